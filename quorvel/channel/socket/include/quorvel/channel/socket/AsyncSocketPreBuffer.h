// The pre-buffer of a socket: bytes read from the descriptor but not yet handed to
// a read request. A linear block with a read position and a write position (not a
// ring): space before the read position is reused only once the buffer empties,
// when both positions return to the start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AsyncSocketPreBuffer {
 public:
  explicit AsyncSocketPreBuffer(std::size_t numBytes);

  // Grows the block by the shortfall when `numBytes` exceeds the available space;
  // both positions are kept.
  void ensureCapacityForWrite(std::size_t numBytes);

  // Bytes written and not yet read.
  std::size_t availableBytes() const { return writePointer - readPointer; }
  // Room after the write position.
  std::size_t availableSpace() const { return preBufferSize - writePointer; }

  const std::uint8_t* readBuffer() const { return preBuffer.data() + readPointer; }
  void getReadBuffer(const std::uint8_t** bufferPtr, std::size_t* availableBytesPtr) const;
  std::uint8_t* writeBuffer() { return preBuffer.data() + writePointer; }
  void getWriteBuffer(std::uint8_t** bufferPtr, std::size_t* availableSpacePtr);

  // Advances the read position (never past the write position); once everything
  // written has been read, both positions return to the start.
  void didRead(std::size_t bytesRead);
  // Advances the write position (never past the end of the block).
  void didWrite(std::size_t bytesWritten);
  void reset();

  std::size_t capacity() const { return preBufferSize; }

 private:
  std::vector<std::uint8_t> preBuffer;
  std::size_t preBufferSize;
  // Offsets into the block, so that growing it keeps them valid.
  std::size_t readPointer = 0;
  std::size_t writePointer = 0;
};
