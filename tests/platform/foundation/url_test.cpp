#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/url.h"

namespace {

// A loopback HTTP server for one test: answers each request by path, or holds
// the connection without answering for "/hang".
class TinyHttpServer {
 public:
  TinyHttpServer() {
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
  ~TinyHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }

  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int requests() const { return requests_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      std::string request;
      char buf[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd c{conn, POLLIN, 0};
        if (::poll(&c, 1, 2000) <= 0) break;
        ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      ++requests_;
      std::string path = request.substr(4, request.find(' ', 4) - 4);
      if (path == "/hang") {
        while (!stop_) {
          pollfd c{conn, POLLIN, 0};
          if (::poll(&c, 1, 20) > 0 && ::recv(conn, buf, sizeof buf, 0) <= 0) break;  // the client gave up
        }
      } else {
        std::string body = path == "/script.js" ? "window.quorvel = 1;\n" : "no such page";
        std::string status = path == "/script.js" ? "200 OK" : "404 Not Found";
        std::string reply = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        ::send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      ::close(conn);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

std::string text(const std::optional<NSData>& data) { return data ? std::string(data->begin(), data->end()) : "<none>"; }

TEST(URLTest, ParsesAbsoluteURLsOnly) {
  auto url = NSURL::URLWithString("http://127.0.0.1:8080/scripts/a.js?x=1");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->scheme, "http");
  EXPECT_EQ(url->absoluteString, "http://127.0.0.1:8080/scripts/a.js?x=1");
  EXPECT_EQ(NSURL::URLWithString("file:///tmp/x")->scheme, "file");
  EXPECT_EQ(NSURL::URLWithString(""), std::nullopt);
  EXPECT_EQ(NSURL::URLWithString("not a url"), std::nullopt);
  EXPECT_EQ(NSURL::URLWithString("http://"), std::nullopt);
}

TEST(URLFetchTest, ReadsFromLoopbackHttpServer) {
  TinyHttpServer server;
  ASSERT_GT(server.port(), 0);
  auto ok = NSURLFetchSynchronously(*NSURL::URLWithString(server.url("/script.js")), 5);
  EXPECT_EQ(ok.error, nullptr);
  EXPECT_EQ(ok.statusCode, 200);
  EXPECT_EQ(text(ok.data), "window.quorvel = 1;\n");

  auto missing = NSURLFetchSynchronously(*NSURL::URLWithString(server.url("/missing.js")), 5);
  EXPECT_FALSE(missing.data.has_value());
  ASSERT_NE(missing.error, nullptr);
  EXPECT_EQ(missing.statusCode, 404);
  EXPECT_EQ(missing.error->domain(), NSURLErrorDomain);

  auto start = std::chrono::steady_clock::now();
  auto slow = NSURLFetchSynchronously(*NSURL::URLWithString(server.url("/hang")), 0.3);
  EXPECT_NE(slow.error, nullptr);
  EXPECT_FALSE(slow.data.has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(server.requests(), 3);
}

TEST(URLFetchTest, ReadsFilesAndReportsFailuresAsErrors) {
  std::string path = testing::TempDir() + "quorvel_url_test_" + std::to_string(::getpid()) + ".js";
  {
    std::ofstream out(path, std::ios::binary);
    out << "console.log('file');";
  }
  auto file = NSURLFetchSynchronously(*NSURL::URLWithString("file://" + path));
  EXPECT_EQ(file.error, nullptr);
  EXPECT_EQ(text(file.data), "console.log('file');");
  EXPECT_EQ(file.statusCode, 0);
  std::remove(path.c_str());

  auto gone = NSURLFetchSynchronously(*NSURL::URLWithString("file://" + path));
  EXPECT_FALSE(gone.data.has_value());
  ASSERT_NE(gone.error, nullptr);
  EXPECT_FALSE(gone.error->localizedDescription().empty());

  // A port that nobody listens on: take a free one and release it.
  int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ::close(probe);
  std::string refusedURL = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x.js";
  auto refused = NSURLFetchSynchronously(*NSURL::URLWithString(refusedURL), 5);
  EXPECT_FALSE(refused.data.has_value());
  ASSERT_NE(refused.error, nullptr);

  // Other schemes and odd time-outs are refused or handled, never fatal.
  auto other = NSURLFetchSynchronously(NSURL{"gopher://127.0.0.1/", "gopher"}, 1);
  EXPECT_NE(other.error, nullptr);
  auto odd = NSURLFetchSynchronously(*NSURL::URLWithString(refusedURL), std::nan(""));
  EXPECT_NE(odd.error, nullptr);
  auto negative = NSURLFetchSynchronously(*NSURL::URLWithString(refusedURL), -1e300);
  EXPECT_NE(negative.error, nullptr);
}

}  // namespace
