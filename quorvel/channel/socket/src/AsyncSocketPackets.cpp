#include "quorvel/channel/socket/AsyncSocketPackets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

AsyncReadPacket::AsyncReadPacket(std::size_t maxLength, double timeout, std::optional<NSData> term, long tag)
    : maxLength(maxLength), timeout(timeout), term(std::move(term)), tag(tag) {}

void AsyncReadPacket::ensureCapacityForAdditionalDataOfLength(std::size_t bytesToRead) {
  std::size_t needed = startOffset + bytesDone + bytesToRead;
  if (buffer.size() < needed) buffer.resize(needed);
}

std::size_t AsyncReadPacket::readLengthForTermWithPreBuffer(const AsyncSocketPreBuffer& preBuffer,
                                                            bool* found) const {
  *found = false;
  if (!term || term->empty()) return 0;
  const NSData& t = *term;
  const std::size_t termLength = t.size();
  const std::uint8_t* pre = preBuffer.readBuffer();
  std::size_t window = preBuffer.availableBytes();
  if (maxLength > 0) window = std::min(window, maxLength > bytesDone ? maxLength - bytesDone : 0);
  if (window == 0) return 0;

  // A terminator that starts in the last k bytes already received and ends in the
  // pre-buffer. The larger k, the earlier it ends, so try those first.
  const std::uint8_t* received = buffer.data() + startOffset;
  std::size_t maxOverlap = std::min(termLength - 1, bytesDone);
  for (std::size_t k = maxOverlap; k >= 1; --k) {
    std::size_t rest = termLength - k;
    if (rest > window) continue;
    if (std::memcmp(received + bytesDone - k, t.data(), k) == 0 && std::memcmp(pre, t.data() + k, rest) == 0) {
      *found = true;
      return rest;
    }
  }

  // A terminator wholly inside the pre-buffered bytes.
  if (const void* at = ::memmem(pre, window, t.data(), termLength)) {
    *found = true;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - pre) + termLength;
  }
  return window;
}

void AsyncReadPacket::takeFromPreBuffer(AsyncSocketPreBuffer& preBuffer, std::size_t length) {
  length = std::min(length, preBuffer.availableBytes());
  if (length == 0) return;
  ensureCapacityForAdditionalDataOfLength(length);
  std::memcpy(writePosition(), preBuffer.readBuffer(), length);
  bytesDone += length;
  preBuffer.didRead(length);
}

NSData AsyncReadPacket::takeData() {
  NSData data = std::move(buffer);
  buffer.clear();
  if (startOffset > 0) data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(startOffset));
  data.resize(bytesDone);
  return data;
}

AsyncReadProgress serveReadRequest(AsyncReadPacket& read, AsyncSocketPreBuffer& preBuffer, std::size_t& bytesWaiting,
                                   bool& endOfFile, const AsyncReadBytes& readBytes, int* error) {
  const bool isTermRead = read.isTerminatorRead();
  bool done = false;

  if (preBuffer.availableBytes() > 0) {
    std::size_t take = isTermRead ? read.readLengthForTermWithPreBuffer(preBuffer, &done) : preBuffer.availableBytes();
    read.takeFromPreBuffer(preBuffer, take);
  }

  const bool wantsMore = isTermRead ? (!done && !read.hasReachedMaxLength()) : true;
  if (wantsMore && bytesWaiting > 0 && !endOfFile) {
    const std::size_t estimate = bytesWaiting;
    std::uint8_t* target;
    if (isTermRead) {
      preBuffer.ensureCapacityForWrite(estimate);
      target = preBuffer.writeBuffer();
    } else {
      read.ensureCapacityForAdditionalDataOfLength(estimate);
      target = read.writePosition();
    }
    const ssize_t n = readBytes(target, estimate);
    if (n < 0) {
      const int err = errno;
      if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR) {
        if (error) *error = err;
        return AsyncReadProgress::failed;
      }
      bytesWaiting = 0;
    } else if (n == 0) {
      endOfFile = true;
      bytesWaiting = 0;
    } else {
      const auto got = std::min(static_cast<std::size_t>(n), estimate);
      bytesWaiting -= std::min(got, bytesWaiting);
      if (isTermRead) {
        preBuffer.didWrite(got);
        read.takeFromPreBuffer(preBuffer, read.readLengthForTermWithPreBuffer(preBuffer, &done));
      } else {
        read.bytesDone += got;
      }
    }
  }

  if (!isTermRead) done = read.bytesDone > 0;
  if (done) return AsyncReadProgress::complete;
  if (isTermRead && read.hasReachedMaxLength()) return AsyncReadProgress::maxedOut;
  // The request took every pre-buffered byte and cannot complete any more.
  if (endOfFile) return AsyncReadProgress::endOfFile;
  return AsyncReadProgress::waiting;
}
