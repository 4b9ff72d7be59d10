// A one-connection loopback server on a free port for client tests: accepts one
// client and runs a script on its descriptor in a thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace qvtest {

class FakeServer {
 public:
  using Script = std::function<void(int fd)>;

  explicit FakeServer(Script script) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 4);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return;
      int fd = ::accept(listenFd_, nullptr, nullptr);
      if (fd < 0) return;
      script(fd);
      ::close(fd);
    });
  }
  ~FakeServer() {
    // A client that connected but was not accepted yet (a busy machine) is still
    // served: the thread sees it too. Otherwise the thread is woken from its wait.
    pollfd pending{listenFd_, POLLIN, 0};
    if (::poll(&pending, 1, 0) <= 0) ::shutdown(listenFd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listenFd_);
  }
  std::uint16_t port() const { return port_; }

  // Helpers for scripts.
  static void send(int fd, const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // Reads until `text` has arrived (or 10 seconds passed); returns what arrived.
  static std::string readUntil(int fd, const std::string& text) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// A port on which nothing listens (it was free a moment ago).
inline std::uint16_t unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace qvtest
