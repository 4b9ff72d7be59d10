// A line-oriented TCP client for tests: connects to a loopback port, sends lines and
// reads answer lines, every wait bounded by a deadline.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qvtest {

class LineClient {
 public:
  LineClient() = default;
  explicit LineClient(int port) { connect(port); }
  ~LineClient() { close(); }
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  bool connect(int port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close();
      return false;
    }
    return true;
  }
  bool isConnected() const { return fd_ >= 0; }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
  }

  bool sendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
  }
  bool sendLine(const std::string& line) { return sendRaw(line + "\n"); }

  // The next line without its line break; absent on time-out or a closed connection.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (fd_ < 0 || left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Sends a command and reads its one-line answer ("" when none came).
  std::string ask(const std::string& line) {
    if (!sendLine(line)) return "";
    return readLine().value_or("");
  }

  // Sends "tree" and reads the lines between "ok" and "end" (absent when the
  // answer is not "ok").
  std::optional<std::vector<std::string>> tree() {
    if (ask("tree") != "ok") return std::nullopt;
    std::vector<std::string> lines;
    while (auto line = readLine()) {
      if (*line == "end") return lines;
      lines.push_back(*line);
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace qvtest
