// The debugging pipe without a browser: the transport alone over two pipes, then the
// protocol level against a scripted peer on the other ends.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"
#include "webkit/DevToolsConnection.h"
#include "webkit/PipeTransport.h"

namespace {

using namespace std::chrono_literals;

// Two pipes: the transport reads what the peer writes and the other way round.
struct PipePair {
  int toTransport[2];
  int fromTransport[2];
  PipePair() {
    EXPECT_EQ(::pipe2(toTransport, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(fromTransport, O_CLOEXEC), 0);
  }
  std::unique_ptr<webkit::PipeTransport> transport() {
    return std::make_unique<webkit::PipeTransport>(toTransport[0], fromTransport[1]);
  }
  void peerWrite(const std::string& bytes) const {
    ASSERT_EQ(::write(toTransport[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The next NUL-terminated message the transport wrote ("" at the end of the stream).
  std::string peerRead() {
    std::string message;
    char c;
    while (::read(fromTransport[0], &c, 1) == 1 && c != '\0') message.push_back(c);
    return message;
  }
  void peerClose() {
    if (toTransport[1] >= 0) ::close(toTransport[1]);
    if (fromTransport[0] >= 0) ::close(fromTransport[0]);
    toTransport[1] = fromTransport[0] = -1;
  }
  ~PipePair() { peerClose(); }
};

class Received {
 public:
  void add(std::string m) {
    std::lock_guard lock(mutex_);
    messages_.push_back(std::move(m));
  }
  std::vector<std::string> all() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

TEST(PipeTransportTest, MessagesAreSplitOnNulAcrossReadsAndTheEndClosesOnce) {
  PipePair pipes;
  auto transport = pipes.transport();
  Received received;
  std::atomic<int> closes{0};
  transport->start([&](std::string m) { received.add(std::move(m)); }, [&] { ++closes; });

  const std::string big(200 * 1024, 'x');  // several reads long
  pipes.peerWrite(std::string("{\"a\":1}\0{\"b\"", 12));
  ASSERT_TRUE(qvtest::waitUntil([&] { return received.all().size() == 1; }));
  pipes.peerWrite(std::string(":2}\0", 4) + big + std::string(1, '\0'));
  ASSERT_TRUE(qvtest::waitUntil([&] { return received.all().size() == 3; }));
  EXPECT_EQ(received.all(), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", big}));

  std::thread reader([&] { EXPECT_EQ(pipes.peerRead(), "{\"call\":\"one\"}"); });
  EXPECT_TRUE(transport->send("{\"call\":\"one\"}"));
  reader.join();

  // A message cut off by the end of the stream is never delivered.
  pipes.peerWrite("{\"half");
  pipes.peerClose();
  ASSERT_TRUE(qvtest::waitUntil([&] { return closes.load() == 1; }));
  EXPECT_TRUE(transport->isClosed());
  EXPECT_FALSE(transport->send("{}")) << "nothing is written after the close";
  transport->close();
  transport.reset();
  EXPECT_EQ(closes.load(), 1);
  EXPECT_EQ(received.all().size(), 3u);
}

// A peer that answers calls by their method: "Echo" returns the params, "Fail"
// answers an error, "Silent" never answers, "Events" sends events first, "Crash"
// closes the peer's ends of the pipes without an answer.
class ScriptedBrowser {
 public:
  explicit ScriptedBrowser(PipePair& pipes) : pipes_(pipes) {
    thread_ = std::thread([this] {
      for (;;) {
        std::string text = pipes_.peerRead();
        if (text.empty()) return;
        auto call = JSONValue::parse(text);
        const auto method = call["method"].get<std::string>();
        JSONValue reply = {{"id", call["id"]}};
        if (call.contains("sessionId")) reply["sessionId"] = call["sessionId"];
        if (method == "Crash") {
          pipes_.peerClose();
          return;
        }
        if (method == "Silent") continue;
        if (method == "Events") {
          send({{"method", "Page.loaded"}, {"sessionId", "S1"}, {"params", {{"n", 1}}}});
          send({{"method", "Page.loaded"}, {"sessionId", "S2"}, {"params", {{"n", 2}}}});
          send({{"method", "Target.created"}, {"params", {{"n", 3}}}});
        }
        if (method == "Fail") {
          reply["error"] = {{"code", -32000}, {"message", "No such thing"}};
        } else {
          reply["result"] = call["params"];
        }
        send(reply);
      }
    });
  }
  ~ScriptedBrowser() { thread_.join(); }
  void send(const JSONValue& message) { pipes_.peerWrite(message.dump() + std::string(1, '\0')); }

 private:
  PipePair& pipes_;
  std::thread thread_;
};

TEST(DevToolsConnectionTest, RepliesErrorsEventsDeadlinesAndTheCloseThatFailsEveryPendingCall) {
  PipePair pipes;
  auto connection = webkit::DevToolsConnection::create(pipes.transport());
  auto browser = std::make_unique<ScriptedBrowser>(pipes);

  EXPECT_EQ(connection->call("Echo", {{"x", "é"}}, "S1"), JSONValue({{"x", "é"}}));
  try {
    connection->call("Fail");
    FAIL() << "an error answer must throw";
  } catch (const webkit::ProtocolError& e) {
    EXPECT_EQ(e.code(), -32000);
    EXPECT_EQ(e.protocolMessage(), "No such thing");
    EXPECT_NE(std::string(e.what()).find("Fail"), std::string::npos) << e.what();
  }
  EXPECT_THROW(connection->call("Silent", {}, {}, 150ms), webkit::TimeoutError);
  EXPECT_EQ(connection->callbacks()->pendingCount(), 0u) << "an expired call leaves the registry";
  // A late answer to a forgotten call changes nothing.
  browser->send({{"id", 1000}, {"result", JSONValue::object()}});

  // Events go to the listeners of their session; sessionless ones to the browser's.
  Received s1, browserLevel;
  connection->addEventListener("S1", [&](const std::string& m, const JSONValue& p) { s1.add(m + p.dump()); });
  const int token =
      connection->addEventListener("", [&](const std::string& m, const JSONValue& p) { browserLevel.add(m + p.dump()); });
  connection->call("Events");  // its events arrive before its reply
  EXPECT_EQ(s1.all(), std::vector<std::string>{"Page.loaded{\"n\":1}"});
  EXPECT_EQ(browserLevel.all(), std::vector<std::string>{"Target.created{\"n\":3}"});
  connection->removeEventListener(token);
  connection->call("Events");
  EXPECT_EQ(browserLevel.all().size(), 1u);

  // An unanswered call without a waiter fails at its own deadline.
  std::promise<std::string> expired;
  connection->callAsync("Silent", {}, {}, 100ms, [&](const JSONValue* result, std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
      expired.set_value(result ? "answered" : "?");
    } catch (const webkit::TimeoutError&) {
      expired.set_value("timeout");
    } catch (...) {
      expired.set_value("other");
    }
  });
  auto expiredFuture = expired.get_future();
  ASSERT_EQ(expiredFuture.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(expiredFuture.get(), "timeout");

  // Calls waiting when the pipe closes all fail at once, as closed, long before
  // their deadlines; so does every later call.
  std::atomic<int> closedFailures{0};
  for (int i = 0; i < 3; ++i) {
    connection->callAsync("Silent", {}, {}, 60s, [&](const JSONValue*, std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const webkit::TargetClosedError&) {
        ++closedFailures;
      } catch (...) {
      }
    });
  }
  auto blocked = std::async(std::launch::async, [&] {
    try {
      connection->call("Silent", {}, {}, 60s);
      return std::string("answered");
    } catch (const webkit::TargetClosedError&) {
      return std::string("closed");
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
  });
  ASSERT_TRUE(qvtest::waitUntil([&] { return connection->callbacks()->pendingCount() == 4; }));
  const auto closedAt = std::chrono::steady_clock::now();
  connection->callAsync("Crash", {}, {}, 60s, nullptr);
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(blocked.get(), "closed");
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 5s);
  EXPECT_TRUE(qvtest::waitUntil([&] { return closedFailures.load() == 3; }));
  EXPECT_TRUE(connection->isClosed());
  EXPECT_THROW(connection->call("Echo"), webkit::TargetClosedError);
}

}  // namespace
