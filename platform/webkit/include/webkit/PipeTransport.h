// The byte level of the browser's debugging pipe: whole messages out and in, each
// followed by one NUL byte. It knows nothing of what the messages say.
//
// Reading runs on a thread of its own, so that a caller waiting for an answer (the
// main thread included) never has to turn anything for it to arrive. Partial reads
// are buffered until their NUL arrives. The end of the stream, or any I/O error on
// either descriptor, closes the transport; the close handler then runs once, on the
// reading thread, after the last message was delivered.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace webkit {

class PipeTransport {
 public:
  using MessageHandler = std::function<void(std::string message)>;
  using CloseHandler = std::function<void()>;
  static constexpr std::chrono::milliseconds kWriteTimeout{10000};

  // Takes ownership of both descriptors: messages are read from `readFd` and
  // written to `writeFd`.
  PipeTransport(int readFd, int writeFd);
  // Closes, then waits for the reading thread to end (unless called on it).
  ~PipeTransport();
  PipeTransport(const PipeTransport&) = delete;
  PipeTransport& operator=(const PipeTransport&) = delete;

  // Starts reading. Handlers run on the reading thread, one message at a time.
  void start(MessageHandler onMessage, CloseHandler onClose);

  // Writes `message` and its NUL; safe from any thread, messages never interleave.
  // False when the transport is closed or the write failed (which closes it). A
  // peer that takes nothing for `timeout` fails this message only; one that stops
  // taking it halfway counts as failed.
  bool send(std::string_view message, std::chrono::milliseconds timeout = kWriteTimeout);

  // Stops reading and writing; pending bytes are dropped. Idempotent.
  void close();
  bool isClosed() const { return closed_.load(); }


 private:
  void readLoop();
  enum class Written { whole, nothingInTime, failed };
  Written writeAll(std::string_view bytes, std::chrono::milliseconds timeout);

  int readFd_;
  int writeFd_;
  int wakeFd_;  // an eventfd that interrupts the reading thread's wait
  std::atomic<bool> closed_{false};
  std::mutex writeMutex_;
  std::thread reader_;
  MessageHandler onMessage_;
  CloseHandler onClose_;
};

}  // namespace webkit
