#include "quorvel/channel/socket/AsyncSocketPreBuffer.h"

#include <algorithm>

AsyncSocketPreBuffer::AsyncSocketPreBuffer(std::size_t numBytes) : preBuffer(numBytes), preBufferSize(numBytes) {}

void AsyncSocketPreBuffer::ensureCapacityForWrite(std::size_t numBytes) {
  std::size_t space = availableSpace();
  if (numBytes <= space) return;
  preBufferSize += numBytes - space;
  preBuffer.resize(preBufferSize);
}

void AsyncSocketPreBuffer::getReadBuffer(const std::uint8_t** bufferPtr, std::size_t* availableBytesPtr) const {
  if (bufferPtr) *bufferPtr = readBuffer();
  if (availableBytesPtr) *availableBytesPtr = availableBytes();
}

void AsyncSocketPreBuffer::getWriteBuffer(std::uint8_t** bufferPtr, std::size_t* availableSpacePtr) {
  if (bufferPtr) *bufferPtr = writeBuffer();
  if (availableSpacePtr) *availableSpacePtr = availableSpace();
}

void AsyncSocketPreBuffer::didRead(std::size_t bytesRead) {
  readPointer += std::min(bytesRead, availableBytes());
  if (readPointer == writePointer) reset();
}

void AsyncSocketPreBuffer::didWrite(std::size_t bytesWritten) { writePointer += std::min(bytesWritten, availableSpace()); }

void AsyncSocketPreBuffer::reset() {
  readPointer = 0;
  writePointer = 0;
}
