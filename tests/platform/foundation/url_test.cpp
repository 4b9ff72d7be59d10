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
#include "http_server.h"

namespace {

// A loopback HTTP server for one test: answers each request by path, or holds
// the connection without answering for "/hang".
class TinyHttpServer : public qvtest::HttpServer {
 public:
  TinyHttpServer()
      : HttpServer([](const std::string& path) -> std::optional<qvtest::HttpReply> {
          if (path == "/hang") return std::nullopt;
          if (path == "/script.js") return qvtest::HttpReply{200, "window.quorvel = 1;\n"};
          return qvtest::HttpReply{404, "no such page"};
        }) {}
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
