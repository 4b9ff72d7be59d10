#include "webkit/PipeTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace webkit {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Writing into a pipe whose reader is gone raises SIGPIPE, which would end the
// application. The signal is blocked on the writing thread around the write, and
// one that the write raised is taken off again before the mask is restored.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &oldMask_);
  }
  void writeFailedWithEPIPE() { raised_ = !alreadyPending_; }
  ~SigpipeGuard() {
    if (raised_) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }

 private:
  sigset_t pipeSet_;
  sigset_t oldMask_;
  bool alreadyPending_ = false;
  bool raised_ = false;
};

}  // namespace

PipeTransport::PipeTransport(int readFd, int writeFd)
    : readFd_(readFd), writeFd_(writeFd), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Writes wait with a deadline instead of blocking for good on a stuck peer.
  ::fcntl(writeFd_, F_SETFL, ::fcntl(writeFd_, F_GETFL) | O_NONBLOCK);
}

PipeTransport::~PipeTransport() {
  close();
  if (reader_.joinable()) {
    if (reader_.get_id() == std::this_thread::get_id()) {
      reader_.detach();
    } else {
      reader_.join();
    }
  }
  // Descriptors go only once nothing can use them any more.
  ::close(readFd_);
  ::close(writeFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PipeTransport::start(MessageHandler onMessage, CloseHandler onClose) {
  onMessage_ = std::move(onMessage);
  onClose_ = std::move(onClose);
  reader_ = std::thread([this] { readLoop(); });
}

void PipeTransport::close() {
  if (closed_.exchange(true)) return;
  std::uint64_t one = 1;
  if (wakeFd_ >= 0) [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

bool PipeTransport::send(std::string_view message, std::chrono::milliseconds timeout) {
  std::lock_guard lock(writeMutex_);
  if (closed_) return false;
  std::string bytes;
  bytes.reserve(message.size() + 1);
  bytes.append(message);
  bytes.push_back('\0');
  const Written outcome = writeAll(bytes, timeout);
  if (outcome == Written::whole) return true;
  // A peer that took nothing in time leaves the stream whole: only this message
  // fails. Half a message, or an error, ends the stream.
  if (outcome != Written::nothingInTime) close();
  return false;
}

PipeTransport::Written PipeTransport::writeAll(std::string_view bytes, std::chrono::milliseconds timeout) {
  SigpipeGuard guard;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::size_t size = bytes.size();
  while (!bytes.empty()) {
    ssize_t n = ::write(writeFd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) guard.writeFailedWithEPIPE();
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return Written::failed;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (closed_) return Written::failed;
    if (left.count() <= 0) return bytes.size() == size ? Written::nothingInTime : Written::failed;
    pollfd p[2] = {{writeFd_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) return Written::failed;
    if (p[1].revents) return Written::failed;  // closed meanwhile
  }
  return Written::whole;
}

void PipeTransport::readLoop() {
  std::string pending;
  std::string chunk(kReadChunk, '\0');
  while (!closed_) {
    pollfd p[2] = {{readFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int ready = ::poll(p, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[1].revents) break;
    if (!p[0].revents) continue;
    ssize_t n = ::read(readFd_, chunk.data(), chunk.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // end of stream or an error
    pending.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\0', start)) != std::string::npos; start = end + 1) {
      if (closed_) break;
      if (onMessage_) onMessage_(pending.substr(start, end - start));
    }
    pending.erase(0, start);
  }
  close();
  if (onClose_) onClose_();
}

}  // namespace webkit
