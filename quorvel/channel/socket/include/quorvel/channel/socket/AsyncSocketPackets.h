// The read and write requests that a socket queues and serves strictly in order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "foundation/data.h"
#include "quorvel/channel/socket/AsyncSocketPreBuffer.h"

// A read request: either a read of whatever bytes are available, or a read up to
// and including a terminator.
class AsyncReadPacket {
 public:
  // `term` absent: read whatever is available. `maxLength` 0: unlimited.
  AsyncReadPacket(std::size_t maxLength, double timeout, std::optional<NSData> term, long tag);

  // Makes room for `bytesToRead` more bytes after the bytes received so far.
  void ensureCapacityForAdditionalDataOfLength(std::size_t bytesToRead);
  // The room after the bytes received so far.
  std::uint8_t* writePosition() { return buffer.data() + startOffset + bytesDone; }

  // Terminator reads: how many pre-buffered bytes this request takes, that is up to
  // and including the first terminator (a match begun by the last bytes already
  // received counts, so a terminator split between two arrivals is found), or all
  // of them when there is none, never more than `maxLength` allows. `found` tells
  // whether the bytes taken end with the terminator.
  std::size_t readLengthForTermWithPreBuffer(const AsyncSocketPreBuffer& preBuffer, bool* found) const;
  // Moves the first `length` pre-buffered bytes into this request.
  void takeFromPreBuffer(AsyncSocketPreBuffer& preBuffer, std::size_t length);

  bool isTerminatorRead() const { return term.has_value(); }
  bool hasReachedMaxLength() const { return maxLength > 0 && bytesDone >= maxLength; }
  // The bytes received, handed over; the request is finished afterwards.
  NSData takeData();

  NSData buffer;                   // receives the data (created by the socket)
  std::size_t startOffset = 0;     // where the data starts in `buffer`
  std::size_t bytesDone = 0;       // bytes received so far
  std::size_t maxLength;           // 0 = unlimited
  double timeout;                  // seconds; negative = none
  std::size_t readLength = 0;      // 0 = not a fixed-length read
  std::optional<NSData> term;      // terminator bytes; absent = not a terminator read
  bool bufferOwner = true;         // `buffer` was created by the socket
  std::size_t originalBufferLength = 0;  // length of a caller-supplied buffer
  long tag;
};

// Where serving a read request left it.
enum class AsyncReadProgress {
  complete,   // the request has its bytes
  waiting,    // it wants bytes that have not arrived yet
  maxedOut,   // a terminator read took its maximum length without its terminator
  endOfFile,  // it can never complete: the peer closed and no byte is left for it
  failed,     // the descriptor read failed (the error number is reported)
};

// Reads up to `length` bytes into `target` as read(2) does: the count, 0 at end of
// file, or -1 with errno set.
using AsyncReadBytes = std::function<ssize_t(std::uint8_t* target, std::size_t length)>;

// Serves `read` as far as the bytes at hand allow: the pre-buffered bytes first;
// then, when it still wants more and `bytesWaiting` bytes were reported waiting
// (and end of file has not been seen), one call of `readBytes` for all of them. A
// read-any reads them straight into its own buffer; a terminator read goes through
// the pre-buffer, so that bytes after its terminator stay there for the next
// request. `bytesWaiting` and `endOfFile` are updated with what the read found;
// a read that would block just waits; `*error` is set for `failed`.
AsyncReadProgress serveReadRequest(AsyncReadPacket& read, AsyncSocketPreBuffer& preBuffer, std::size_t& bytesWaiting,
                                   bool& endOfFile, const AsyncReadBytes& readBytes, int* error);

// A write request.
class AsyncWritePacket {
 public:
  AsyncWritePacket(NSData data, double timeout, long tag)
      : buffer(std::move(data)), tag(tag), timeout(timeout) {}

  std::size_t remaining() const { return buffer.size() - bytesDone; }

  NSData buffer;
  std::size_t bytesDone = 0;
  long tag;
  double timeout;  // seconds; negative = none
};
