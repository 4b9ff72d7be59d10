// The guard of our HTTP servers: which Host values name a server, and a guarded
// server on loopback under the clients it must stand: other sites' pages, bodies
// too large or unannounced, heads sent in pieces or never finished, and requests
// that hold their worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "httpguard/HttpGuard.h"
#include "raw_http.h"
#include "wait.h"

// The system's HTTP library is not built with ThreadSanitizer: calls made from it
// are left out; the guard's own code is checked in full.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib\n"; }

namespace {

using namespace std::chrono_literals;

bool accepts(const std::vector<std::string>& hosts, const std::string& host) {
  return std::find(hosts.begin(), hosts.end(), host) != hosts.end();
}

TEST(HttpGuardHosts, NamesOfTheServerAndNothingElse) {
  const auto loopback = httpguard::acceptedHosts({"127.0.0.1", 9980}, {});
  for (const char* host : {"127.0.0.1:9980", "localhost:9980", "[::1]:9980"}) {
    EXPECT_TRUE(accepts(loopback, host)) << host;
  }
  for (const char* host : {"127.0.0.1", "127.0.0.1:9981", "evil.example:9980", "0.0.0.0:9980"}) {
    EXPECT_FALSE(accepts(loopback, host)) << host;
  }

  // Every address: the loopback names, and each address of the machine's own.
  const auto wildcard = httpguard::acceptedHosts({"0.0.0.0", 9981}, {"Node-7.Farm"});
  EXPECT_TRUE(accepts(wildcard, "0.0.0.0:9981"));
  EXPECT_TRUE(accepts(wildcard, "localhost:9981"));
  EXPECT_TRUE(accepts(wildcard, "127.0.0.1:9981"));
  EXPECT_TRUE(accepts(wildcard, "node-7.farm:9981"));
  EXPECT_FALSE(accepts(wildcard, "evil.example:9981"));
  const auto ipv6 = httpguard::acceptedHosts({"::", 80}, {});
  EXPECT_TRUE(accepts(ipv6, "[::]:80"));
  EXPECT_TRUE(accepts(ipv6, "localhost"));  // port 80 goes without saying
  EXPECT_TRUE(accepts(ipv6, "localhost:80"));
}

// A refusal as the server's own error JSON, so that callers choose the answer.
void refuseAsJson(const httplib::Request&, httplib::Response& response, const httpguard::Refusal& refusal) {
  response.set_content("{\"refused\":" + std::to_string(static_cast<int>(refusal.reason)) + "}", "application/json");
}

struct Guarded {
  explicit Guarded(httpguard::Options options) : server(std::move(options)) {
    server.Get("/hello", [this](const httplib::Request&, httplib::Response& response) {
      ++handled;
      response.set_content("hello", "text/plain");
    });
    server.Post("/echo", [this](const httplib::Request& request, httplib::Response& response) {
      ++handled;
      response.set_content(std::to_string(request.body.size()), "text/plain");
    });
    server.Post("/upload", [this](const httplib::Request& request, httplib::Response& response) {
      ++handled;
      response.set_content(std::to_string(request.body.size()), "text/plain");
    });
    // Held until released, as a long poll holds its request.
    server.Get("/hold", [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex);
      ++holding;
      released.wait(lock, [this] { return release; });
      response.set_content("released", "text/plain");
    });
    port = server.bindTo("127.0.0.1", 0);
    thread = std::thread([this] { server.listen_after_bind(); });
    qvtest::waitUntil([this] { return server.is_running(); });
  }
  ~Guarded() {
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    released.notify_all();
    server.stop();
    thread.join();
  }
  std::string host() const { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
  int holdingNow() {
    std::lock_guard lock(mutex);
    return holding;
  }

  httpguard::Server server;
  int port = -1;
  std::thread thread;
  std::atomic<int> handled{0};
  std::mutex mutex;
  std::condition_variable released;
  int holding = 0;
  bool release = false;
};

void expectGuardHeaders(const qvtest::RawReply& reply) {
  EXPECT_EQ(reply.header("content-security-policy"), "frame-ancestors 'none'");
  EXPECT_EQ(reply.header("x-content-type-options"), "nosniff");
  EXPECT_EQ(reply.header("x-frame-options"), "DENY");
}

TEST(HttpGuardServer, RefusesOtherSitesAndBadBodiesBeforeReadingThem) {
  httpguard::Options options;
  options.maxBody = 1024;
  options.maxBodyByPath = {{"/upload", 64 * 1024}};
  options.refuse = refuseAsJson;
  Guarded guarded(options);
  ASSERT_GT(guarded.port, 0);
  const std::string host = guarded.host();
  const std::string self = "http://127.0.0.1:" + std::to_string(guarded.port);

  // Its own page, and a tool that is no page, on one kept-alive connection.
  qvtest::RawHttp own(guarded.port);
  ASSERT_TRUE(own.send("GET /hello HTTP/1.1\r\n" + host + "\r\nPOST /echo HTTP/1.1\r\n" + host + "Origin: " + self +
                       "\r\nContent-Length: 5\r\n\r\nabcde"));
  auto hello = own.reply();
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->status, 200);
  EXPECT_EQ(hello->body, "hello");
  expectGuardHeaders(*hello);
  auto echo = own.reply();
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->body, "5");
  EXPECT_EQ(guarded.handled, 2);

  struct Refused {
    std::string request;
    int status;
    httpguard::Reason reason;
  };
  const std::string big = std::to_string(50 * 1024 * 1024);
  const Refused refused[] = {
      {"GET /hello HTTP/1.1\r\nHost: evil.example:" + std::to_string(guarded.port) + "\r\n\r\n", 403,
       httpguard::Reason::foreignHost},
      {"GET /hello HTTP/1.0\r\n\r\n", 403, httpguard::Reason::foreignHost},
      {"POST /echo HTTP/1.1\r\n" + host + "Origin: http://evil.example\r\nContent-Length: 2\r\n\r\n{}", 403,
       httpguard::Reason::foreignOrigin},
      {"POST /echo HTTP/1.1\r\n" + host + "Origin: null\r\nContent-Length: 2\r\n\r\n{}", 403,
       httpguard::Reason::foreignOrigin},
      {"GET /hello HTTP/1.1\r\n" + host + "Sec-Fetch-Site: cross-site\r\n\r\n", 403, httpguard::Reason::foreignOrigin},
      {"POST /echo HTTP/1.1\r\n" + host + "Content-Length: " + big + "\r\n\r\n", 413, httpguard::Reason::bodyTooLarge},
      {"POST /echo HTTP/1.1\r\n" + host + "Content-Length: 2048\r\nExpect: 100-continue\r\n\r\n", 413,
       httpguard::Reason::bodyTooLarge},
      {"POST /echo HTTP/1.1\r\n" + host + "\r\n", 411, httpguard::Reason::lengthRequired},
      {"POST /echo HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", 411,
       httpguard::Reason::lengthRequired},
      {"POST /echo HTTP/1.1\r\n" + host + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}", 400,
       httpguard::Reason::badRequest},
      {"GET /hello HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", 400, httpguard::Reason::badRequest},
  };
  for (const auto& r : refused) {
    qvtest::RawHttp client(guarded.port);
    ASSERT_TRUE(client.send(r.request));
    auto reply = client.reply();
    ASSERT_TRUE(reply) << r.request;
    EXPECT_EQ(reply->status, r.status) << r.request;
    EXPECT_EQ(reply->body, "{\"refused\":" + std::to_string(static_cast<int>(r.reason)) + "}") << r.request;
    EXPECT_EQ(reply->header("connection"), "close");
    expectGuardHeaders(*reply);
    EXPECT_TRUE(client.closedWithin(5s)) << r.request;
  }
  EXPECT_EQ(guarded.handled, 2) << "a refused request reached its handler";

  // A body of 50 MB announced and sent: answered at once, and the connection
  // closed after a bounded amount of it.
  qvtest::RawHttp flood(guarded.port);
  ASSERT_TRUE(flood.send("POST /echo HTTP/1.1\r\n" + host + "Content-Length: " + big + "\r\n\r\n"));
  const std::size_t sent = flood.sendFillerUntilAnswered(50u * 1024 * 1024);
  auto tooLarge = flood.reply();
  ASSERT_TRUE(tooLarge);
  EXPECT_EQ(tooLarge->status, 413);
  EXPECT_LT(sent, 50u * 1024 * 1024);
  EXPECT_TRUE(flood.closedWithin(5s));

  // A path allowed more takes more, up to its own limit.
  qvtest::RawHttp upload(guarded.port);
  ASSERT_TRUE(upload.send("POST /upload HTTP/1.1\r\n" + host + "Content-Length: 4096\r\n\r\n" + std::string(4096, 'x')));
  auto uploaded = upload.reply();
  ASSERT_TRUE(uploaded);
  EXPECT_EQ(uploaded->status, 200);
  EXPECT_EQ(uploaded->body, "4096");
}

TEST(HttpGuardServer, SlowAndHeldClientsKeepNobodyWaiting) {
  httpguard::Options options;
  options.readTimeout = 3000ms;
  Guarded guarded(options);
  ASSERT_GT(guarded.port, 0);
  const std::string host = guarded.host();
  const std::string hello = "GET /hello HTTP/1.1\r\n" + host + "\r\n";

  // 200 clients that never finish their request, and 16 requests that hold their
  // worker: a normal request is answered while all of them still wait.
  std::vector<std::unique_ptr<qvtest::RawHttp>> halfSent;
  for (int i = 0; i < 200; ++i) {
    halfSent.push_back(std::make_unique<qvtest::RawHttp>(guarded.port));
    ASSERT_TRUE(halfSent.back()->send("GET /hello HTTP/1.1\r\n" + host));
  }
  std::vector<std::unique_ptr<qvtest::RawHttp>> held;
  for (int i = 0; i < 16; ++i) {
    held.push_back(std::make_unique<qvtest::RawHttp>(guarded.port));
    ASSERT_TRUE(held.back()->send("GET /hold HTTP/1.1\r\n" + host + "\r\n"));
  }
  ASSERT_TRUE(qvtest::waitUntil([&] { return guarded.holdingNow() == 16; }, 10s));
  qvtest::RawHttp normal(guarded.port);
  ASSERT_TRUE(normal.send(hello));
  auto reply = normal.reply(10s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "hello");
  int stillOpen = 0;
  for (auto& client : halfSent) stillOpen += client->waiting() ? 1 : 0;
  EXPECT_EQ(stillOpen, 200) << "answered only once half-sent requests were given up";
  for (auto& client : held) EXPECT_TRUE(client->waiting());

  // The unfinished requests are cut off by the read timeout, unanswered by any
  // handler; a head trickled in a byte at a time is cut off as well.
  for (auto& client : halfSent) EXPECT_TRUE(client->closedWithin(10s));
  qvtest::RawHttp trickle(guarded.port);
  const std::string slowHead = "GET /hello HTTP/1.1\r\n" + host + "X-Slow: " + std::string(200, 'a');
  bool cutOff = false;
  for (std::size_t i = 0; i < slowHead.size() && !cutOff; ++i) {
    cutOff = !trickle.send(slowHead.substr(i, 1)) || trickle.closedWithin(100ms);
  }
  EXPECT_TRUE(cutOff) << "a head sent a byte at a time for 20 s was read on";
  // A head above 64 KiB is not read on.
  qvtest::RawHttp huge(guarded.port);
  huge.send("GET /hello HTTP/1.1\r\n" + host + "X-Filler: " + std::string(80 * 1024, 'a') + "\r\n\r\n");
  EXPECT_TRUE(huge.closedWithin(10s));
  EXPECT_EQ(guarded.handled, 1);
}

}  // namespace
