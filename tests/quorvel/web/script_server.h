// A small HTTP server on 127.0.0.1 that serves the installed page scripts and
// counts the requests for each file; files can be made to fail (404).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace qvtest {

class ScriptServer {
 public:
  explicit ScriptServer(std::filesystem::path root) : root_(std::move(root)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 16);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int requests(const std::string& file) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(file);
    return it == counts_.end() ? 0 : it->second;
  }
  int totalRequests() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& [file, count] : counts_) n += count;
    return n;
  }
  void setFailing(const std::string& file, bool failing) {
    std::lock_guard lock(mutex_);
    if (failing) {
      failing_.insert(file);
    } else {
      failing_.erase(file);
    }
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char buffer[2048];
      ssize_t n;
      while (request.find("\r\n\r\n") == std::string::npos && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
        request.append(buffer, static_cast<std::size_t>(n));
      }
      std::istringstream line(request);
      std::string method, path;
      line >> method >> path;
      const std::string file = path.substr(path.find_last_of('/') + 1);
      bool failing;
      {
        std::lock_guard lock(mutex_);
        ++counts_[file];
        failing = failing_.count(file) > 0;
      }
      std::ifstream in(root_ / file, std::ios::binary);
      std::string response;
      if (!failing && in) {
        std::stringstream body;
        body << in.rdbuf();
        response = "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nContent-Length: " +
                   std::to_string(body.str().size()) + "\r\nConnection: close\r\n\r\n" + body.str();
      } else {
        response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      }
      for (std::size_t sent = 0; sent < response.size();) {
        ssize_t w = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (w <= 0) break;
        sent += static_cast<std::size_t>(w);
      }
      ::close(client);
    }
  }

  std::filesystem::path root_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, int> counts_;
  std::set<std::string> failing_;
};

}  // namespace qvtest
