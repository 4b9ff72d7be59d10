// A loopback HTTP server for tests, on a free port of 127.0.0.1: each request's path
// goes to a handler that answers with a status and a body, or with nothing, which
// holds the connection unanswered until the client gives up or the server stops.
// One connection at a time; every request is counted.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace qvtest {

struct HttpReply {
  int status = 200;
  std::string body;
  std::string contentType = "text/plain";
};

class HttpServer {
 public:
  using Handler = std::function<std::optional<HttpReply>(const std::string& path)>;

  explicit HttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~HttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int requests() const { return requests_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      std::string request;
      char buf[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd c{conn, POLLIN, 0};
        if (::poll(&c, 1, 2000) <= 0) break;
        ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      ++requests_;
      const auto pathStart = request.find(' ') + 1;
      const std::string path = request.substr(pathStart, request.find(' ', pathStart) - pathStart);
      if (auto reply = handler_(path)) {
        std::string text = "HTTP/1.1 " + std::to_string(reply->status) + (reply->status < 400 ? " OK" : " Error") +
                           "\r\nContent-Type: " + reply->contentType +
                           "\r\nContent-Length: " + std::to_string(reply->body.size()) +
                           "\r\nConnection: close\r\n\r\n" + reply->body;
        for (std::size_t sent = 0; sent < text.size();) {
          ssize_t w = ::send(conn, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
          if (w <= 0) break;
          sent += static_cast<std::size_t>(w);
        }
      } else {
        while (!stop_) {
          pollfd c{conn, POLLIN, 0};
          if (::poll(&c, 1, 20) > 0 && ::recv(conn, buf, sizeof buf, 0) <= 0) break;  // the client gave up
        }
      }
      ::close(conn);
    }
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

}  // namespace qvtest
