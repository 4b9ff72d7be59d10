// The device-input server: a listening socket on 127.0.0.1, one thread that
// accepts, one thread per connection that reads command lines and answers them,
// and an input source of the main run loop through which the commands' work runs
// on the main thread.
#include <algorithm>
#include "device/UIDeviceInput.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "command.h"
#include "foundation/data.h"
#include "foundation/log.h"
#include "foundation/runloop.h"
#include "touch_screen.h"
#include "uikit/UIImage.h"
#include "uikit/UIImagePNG.h"

namespace device_input {

namespace {

constexpr std::size_t kMaxConnections = 16;
// A finger's moves reach the screen at the digitizer's report rate.
constexpr auto kSwipeStepInterval = std::chrono::milliseconds(8);

// Work handed to the main thread, one block at a time; run() waits for it.
class MainThreadRunner : public std::enable_shared_from_this<MainThreadRunner> {
 public:
  static std::shared_ptr<MainThreadRunner> create() {
    auto runner = std::make_shared<MainThreadRunner>();
    // The source keeps the runner alive only while it performs.
    runner->source_ = CFRunLoopSourceCreate([weak = std::weak_ptr<MainThreadRunner>(runner)] {
      if (auto self = weak.lock()) self->performPending();
    });
    CFRunLoopAddSource(CFRunLoopGetMain(), runner->source_, kCFRunLoopCommonModes);
    return runner;
  }

  // Runs `work` on the main thread and waits until it ran. False when the runner
  // was shut down first (the work did not run).
  bool run(std::function<void()> work) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    {
      std::lock_guard lock(mutex_);
      if (shutDown_) return false;
      pending_.push_back(job);
    }
    CFRunLoopSourceSignal(source_);
    CFRunLoopWakeUp(CFRunLoopGetMain());
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return job->finished; });
    return job->ran;
  }

  // Refuses new work and releases the waiters of work not yet started.
  void shutDown() {
    {
      std::lock_guard lock(mutex_);
      shutDown_ = true;
      for (const auto& job : pending_) job->finished = true;
      pending_.clear();
    }
    done_.notify_all();
    CFRunLoopSourceInvalidate(source_);
  }

 private:
  struct Job {
    std::function<void()> work;
    bool finished = false;
    bool ran = false;
  };

  void performPending() {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return;
        job = pending_.front();
        pending_.pop_front();
      }
      job->work();
      {
        std::lock_guard lock(mutex_);
        job->ran = true;
        job->finished = true;
      }
      done_.notify_all();
    }
  }

  CFRunLoopSourceRef source_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Job>> pending_;
  bool shutDown_ = false;
};

// Runs `work` (which must not throw past here) on the main thread and returns its
// answer; an exception from the application's code becomes an error answer.
std::string onMain(MainThreadRunner& runner, const std::function<std::string()>& work) {
  std::string answer;
  bool ran = runner.run([&] {
    try {
      answer = work();
    } catch (const std::exception& e) {
      answer = std::string("error: exception: ") + e.what();
    } catch (...) {
      answer = "error: exception";
    }
  });
  return ran ? answer : "error: device input stopped";
}

struct Connection {
  int fd = -1;
  std::thread thread;
  bool finished = false;  // guarded by the server's mutex
};

class Server {
 public:
  bool start(int requestedPort);
  void stop();
  int port() const {
    std::lock_guard lock(mutex_);
    return port_;
  }

 private:
  void acceptLoop(int listenFd, int wakeFd);
  void serve(Connection* connection);
  // The answer to one line: one or more lines, each ending in a line break.
  std::string answer(const std::string& line, MainThreadRunner& runner);
  std::string swipe(const Command& command, MainThreadRunner& runner);
  void reapFinished();

  std::mutex lifecycleMutex_;  // start and stop one at a time, each to its end
  mutable std::mutex mutex_;
  int port_ = 0;  // 0 while not running: a listening port is never 0
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::thread acceptThread_;
  std::list<Connection> connections_;
  std::shared_ptr<MainThreadRunner> runner_;
  std::mutex commandMutex_;  // one command at a time, whichever connection sent it
};

Server& server() {
  static Server* shared = new Server();  // never destroyed: its threads may outlive static destructors
  return *shared;
}

bool isOk(const std::string& answer) { return answer.rfind("ok", 0) == 0; }

bool sendAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void writePortFile(const char* path, int port) {
  if (!foundation::writeFileAtomically(path, std::to_string(port) + "\n")) {
    NSLog("Device input: cannot write the port file %@", std::string(path));
  }
}

bool Server::start(int requestedPort) {
  std::lock_guard lifecycle(lifecycleMutex_);
  std::lock_guard lock(mutex_);
  if (port_ != 0) return true;
  if (requestedPort < 0 || requestedPort > 65535) {
    NSLog("Device input: invalid port %d", requestedPort);
    return false;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(requestedPort));
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    NSLog("Device input: cannot listen on 127.0.0.1:%d (%@)", requestedPort, std::string(std::strerror(errno)));
    ::close(fd);
    return false;
  }
  int wake = ::eventfd(0, EFD_CLOEXEC);
  if (wake < 0) {
    ::close(fd);
    return false;
  }
  listenFd_ = fd;
  wakeFd_ = wake;
  port_ = ntohs(address.sin_port);
  runner_ = MainThreadRunner::create();
  acceptThread_ = std::thread([this, fd, wake] { acceptLoop(fd, wake); });
  if (const char* portFile = std::getenv("QUORVEL_DEVICE_PORT_FILE"); portFile && *portFile) {
    writePortFile(portFile, port_);
  }
  NSLog("Device input listening on 127.0.0.1:%d", port_);
  return true;
}

void Server::stop() {
  std::lock_guard lifecycle(lifecycleMutex_);
  std::thread acceptThread;
  std::list<Connection> connections;
  std::shared_ptr<MainThreadRunner> runner;
  {
    std::lock_guard lock(mutex_);
    if (port_ == 0) return;
    port_ = 0;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    for (auto& c : connections_) ::shutdown(c.fd, SHUT_RDWR);
    acceptThread = std::move(acceptThread_);
    runner = runner_;
  }
  // Commands waiting for the main thread give up (this may be the main thread).
  runner->shutDown();
  acceptThread.join();
  {
    std::lock_guard lock(mutex_);
    // The accept thread has ended: no connection is added any more.
    for (auto& c : connections_) ::shutdown(c.fd, SHUT_RDWR);
    connections.splice(connections.end(), connections_);
  }
  for (auto& c : connections) {
    c.thread.join();
    ::close(c.fd);
  }
  std::lock_guard lock(mutex_);
  ::close(listenFd_);
  ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
  runner_.reset();
}

void Server::reapFinished() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->finished) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (auto& c : finished) {
    c.thread.join();
    ::close(c.fd);
  }
}

void Server::acceptLoop(int listenFd, int wakeFd) {
  for (;;) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int n = ::poll(fds, 2, 1000);
    reapFinished();
    if (n < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    // Connections that ended but are not reaped yet do not count against the limit.
    auto live = std::count_if(connections_.begin(), connections_.end(), [](const Connection& c) { return !c.finished; });
    const bool running = port_ != 0;
    if (!running || static_cast<std::size_t>(live) >= kMaxConnections) {
      sendAll(fd, running ? "error: too many connections\n" : "error: device input stopped\n");
      ::close(fd);
      continue;
    }
    connections_.emplace_back();
    Connection* connection = &connections_.back();
    connection->fd = fd;
    connection->thread = std::thread([this, connection] { serve(connection); });
  }
}

void Server::serve(Connection* connection) {
  std::shared_ptr<MainThreadRunner> runner;
  {
    std::lock_guard lock(mutex_);
    runner = runner_;
  }
  int fd = connection->fd;
  std::string buffer;
  bool discarding = false;  // inside a line that was too long
  char chunk[4096];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
    bool open = true;
    std::size_t newline;
    while (open && (newline = buffer.find('\n')) != std::string::npos) {
      std::string line = buffer.substr(0, newline);
      buffer.erase(0, newline + 1);
      if (discarding) {
        discarding = false;  // the end of the long line: answered already
        continue;
      }
      std::string reply;
      try {
        reply = answer(line, *runner);
      } catch (const std::exception& e) {
        reply = std::string("error: ") + e.what() + "\n";
      }
      open = sendAll(fd, reply);
    }
    if (!open) break;
    if (!discarding && buffer.size() > kMaxLineLength + 1) {
      open = sendAll(fd, "error: line too long\n");
      buffer.clear();
      discarding = true;
    } else if (discarding) {
      buffer.clear();
    }
    if (!open) break;
  }
  std::lock_guard lock(mutex_);
  connection->finished = true;
}

std::string Server::swipe(const Command& command, MainThreadRunner& runner) {
  std::string result = onMain(runner, [&] { return fingerDown(command.point); });
  if (!isOk(result)) return result;
  CGPoint last = command.point;
  for (int i = 1; i <= command.steps && isOk(result); ++i) {
    std::this_thread::sleep_for(kSwipeStepInterval);
    double f = static_cast<double>(i) / command.steps;
    CGPoint p{command.point.x + (command.end.x - command.point.x) * f,
              command.point.y + (command.end.y - command.point.y) * f};
    result = onMain(runner, [&] { return fingerMove(p); });
    if (isOk(result)) last = p;
  }
  // The finger never stays down after a swipe, whatever went wrong.
  std::string lifted = onMain(runner, [&] { return liftOrCancelFinger(last); });
  return isOk(result) ? lifted : result;
}

std::string Server::answer(const std::string& line, MainThreadRunner& runner) {
  ParsedCommand parsed = parseCommand(line);
  if (!parsed.command) return parsed.error + "\n";
  const Command& command = *parsed.command;
  std::lock_guard commandLock(commandMutex_);
  switch (command.kind) {
    case CommandKind::Tap: {
      std::string result = onMain(runner, [&] { return fingerDown(command.point); });
      if (!isOk(result)) return result + "\n";
      std::string lifted = onMain(runner, [&] { return liftOrCancelFinger(command.point); });
      return (isOk(lifted) ? result : lifted) + "\n";
    }
    case CommandKind::Down: return onMain(runner, [&] { return fingerDown(command.point); }) + "\n";
    case CommandKind::Move: return onMain(runner, [&] { return fingerMove(command.point); }) + "\n";
    case CommandKind::Up: return onMain(runner, [&] { return fingerUp(command.point); }) + "\n";
    case CommandKind::Swipe: return swipe(command, runner) + "\n";
    case CommandKind::Type: return onMain(runner, [&] { return typeText(command.text); }) + "\n";
    case CommandKind::Screenshot: {
      std::shared_ptr<UIImage> image;
      std::string result = onMain(runner, [&] {
        image = screenImage();
        return std::string(image ? "ok" : "error: no screen image");
      });
      if (!image) return result + "\n";
      if (!UIImageWritePNGToFile(image, command.text)) return "error: cannot write " + command.text + "\n";
      return "ok " + command.text + "\n";
    }
    case CommandKind::Tree: {
      std::optional<std::vector<std::string>> lines;
      std::string result = onMain(runner, [&] {
        lines = keyWindowTree();
        return std::string(lines ? "ok" : "error: no key window");
      });
      if (!lines) return result + "\n";
      std::string text = "ok\n";
      for (const auto& l : *lines) text += l + "\n";
      return text + "end\n";
    }
  }
  return "error: unknown command\n";
}

}  // namespace

}  // namespace device_input

bool UIDeviceInput::start() {
  int port = kDefaultPort;
  if (const char* text = std::getenv("QUORVEL_DEVICE_PORT"); text && *text) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 65535) {
      NSLog("Device input: QUORVEL_DEVICE_PORT is not a port number: %@", std::string(text));
      return false;
    }
    port = static_cast<int>(value);
  }
  return startOnPort(port);
}

bool UIDeviceInput::startOnPort(int port) { return device_input::server().start(port); }
void UIDeviceInput::stop() { device_input::server().stop(); }
bool UIDeviceInput::isRunning() { return device_input::server().port() != 0; }
int UIDeviceInput::port() { return device_input::server().port(); }
