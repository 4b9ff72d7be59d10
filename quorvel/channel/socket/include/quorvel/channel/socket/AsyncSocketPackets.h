// The read and write requests that a socket queues and serves strictly in order.
#pragma once

#include <cstddef>
#include <cstdint>
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
