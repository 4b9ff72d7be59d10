// An HTTP client on a raw loopback connection, for tests that need what ordinary
// clients hide: requests sent in pieces or never finished, headers of their own,
// bodies that are announced and not sent, and whether the server closed the
// connection.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "loopback.h"

namespace qvtest {

struct RawReply {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

class RawHttp {
 public:
  explicit RawHttp(int port) : fd_(connectLoopback(static_cast<std::uint16_t>(port))) {}
  ~RawHttp() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawHttp(const RawHttp&) = delete;
  RawHttp& operator=(const RawHttp&) = delete;

  bool connected() const { return fd_ >= 0; }

  // False once the server no longer takes bytes (it closed or reset).
  bool send(const std::string& bytes) {
    for (std::size_t sent = 0; fd_ >= 0 && sent < bytes.size();) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
  }

  // Sends up to `bytes` of filler while watching for an answer; stops as soon as
  // the server answers or stops reading. Returns how much was sent.
  std::size_t sendFillerUntilAnswered(std::size_t bytes) {
    const std::string chunk(64 * 1024, 'a');
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes) {
      pollfd p{fd_, POLLIN | POLLOUT, 0};
      if (::poll(&p, 1, 5000) <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR))) break;
      ssize_t n = ::send(fd_, chunk.data(), std::min(chunk.size(), bytes - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    return sent;
  }

  // The next response (its head, and a body of its Content-Length); absent when
  // none is complete within the timeout.
  std::optional<RawReply> reply(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(deadline)) return std::nullopt;
    }
    RawReply reply;
    const std::string head = buffer_.substr(0, headEnd);
    if (head.size() < 12 || head.compare(0, 5, "HTTP/") != 0) return std::nullopt;
    reply.status = std::stoi(head.substr(9, 3));
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
      const std::size_t next = head.find("\r\n", at + 2);
      const std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
      const auto colon = line.find(':');
      if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        reply.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
      }
      at = next;
    }
    const std::size_t length = reply.headers.count("content-length") ? std::stoul(reply.headers["content-length"]) : 0;
    while (buffer_.size() < headEnd + 4 + length) {
      if (!fill(deadline)) return std::nullopt;
    }
    reply.body = buffer_.substr(headEnd + 4, length);
    buffer_.erase(0, headEnd + 4 + length);
    return reply;
  }

  // True when the server closes the connection (or resets it) within the timeout;
  // whatever it sends before is dropped.
  bool closedWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fill(deadline)) {
    }
    return closed_;
  }

  // True while the server has neither answered nor closed: nothing to read now.
  bool waiting() {
    pollfd p{fd_, POLLIN, 0};
    return fd_ >= 0 && buffer_.empty() && ::poll(&p, 1, 0) == 0;
  }

 private:
  // Reads what arrives before the deadline; false at the deadline or the end.
  bool fill(std::chrono::steady_clock::time_point deadline) {
    if (fd_ < 0 || closed_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[16384];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  int fd_;
  bool closed_ = false;
  std::string buffer_;
};

}  // namespace qvtest
