// Many clients at once on one qvdriver whose device is a scripted agent: one session
// per device however many ask at once, the commands of a session never interleave
// on its connection, and a session deleted under running commands ends cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "../qvctl/fake_server.h"
#include "driver_http.h"
#include "qvctl/Frame.h"
#include "qvdriver/Server.h"
#include "wait.h"

// The system's HTTP library is not built with ThreadSanitizer: the memory functions
// it calls would be checked while its own synchronisation stays unseen. Calls made
// from it are left out; qvdriver's own code is checked in full.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib\n"; }

namespace {

using json = nlohmann::json;

// The agent's side: every find answers one new element ID that carries the value
// looked for, and gettext answers that value back; one request at a time.
void scriptedAgent(int fd) {
  std::string pending;
  int serial = 0;
  for (;;) {
    pending += qvtest::FakeServer::readUntil(fd, "\r\n");
    auto end = pending.find("\r\n");
    if (end == std::string::npos) return;  // the client left
    json request = json::parse(pending.substr(0, end));
    pending.erase(0, end + 2);
    json reply = json::array();
    const std::string function = request.value("functionname", "");
    if (function == "findelements") {
      reply.push_back({{"elementID", std::to_string(++serial) + "|" + request.value("accessorvalue", "")}});
    } else if (function == "gettext") {
      const std::string id = request.value("accessorvalue", "");
      reply.push_back({{"output", id.substr(id.find('|') + 1)}});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a main thread that takes its time
    qvtest::FakeServer::send(fd, qvctl::frame(reply.dump()));
  }
}

TEST(QvdriverConcurrencyTest, SessionsAndCommandsFromManyClients) {
  qvtest::FakeServer agent(scriptedAgent);
  qvdriver::DriverOptions options;
  options.agentPort = agent.port();
  qvdriver::Server server(options);
  const int port = server.bind("127.0.0.1", 0);
  server.start();
  const json newSession = {{"capabilities", {{"alwaysMatch", {{"platformName", "quorvel"}}}}}};

  // The HTTP library builds its parsers (function-local statics) on first use,
  // where ThreadSanitizer cannot see the guard: one request before the threads
  // start builds them.
  ASSERT_EQ(qvtest::DriverHttp(port).get("/status").status, 200);

  // Six clients ask for the one device at once: one gets it.
  std::vector<std::thread> clients;
  std::atomic<int> created{0}, refused{0};
  std::string session;
  std::mutex sessionMutex;
  for (int i = 0; i < 6; ++i) {
    clients.emplace_back([&] {
      qvtest::DriverReply reply = qvtest::DriverHttp(port).post("/session", newSession);
      if (reply.status == 200) {
        ++created;
        std::lock_guard lock(sessionMutex);
        session = "/session/" + reply.value()["sessionId"].get<std::string>();
      } else if (reply.error() == "session not created") {
        ++refused;
      }
    });
  }
  for (auto& c : clients) c.join();
  clients.clear();
  ASSERT_EQ(created, 1);
  EXPECT_EQ(refused, 5);

  // Four clients find and read on the session at once. A pair may lose its element
  // to another client's find (stale), but a text always belongs to its own find.
  std::atomic<int> read{0}, stale{0}, wrong{0};
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      qvtest::DriverHttp http(port);
      const std::string label = "label " + std::to_string(t);
      for (int i = 0; i < 25; ++i) {
        auto found = http.post(session + "/element", {{"using", "link text"}, {"value", label}});
        auto text = http.get(session + "/element/" + qvtest::elementId(found.value()) + "/text");
        if (text.status == 200 && text.value() == label) {
          ++read;
        } else if (text.error() == "stale element reference") {
          ++stale;
        } else {
          ++wrong;
        }
      }
    });
  }
  clients.emplace_back([&] {
    qvtest::DriverHttp http(port);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(http.get("/status").value()["ready"], true);
  });
  for (auto& c : clients) c.join();
  clients.clear();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(read + stale, 100);
  EXPECT_GT(read, 0);

  // Deleted while clients keep sending: each command either ran before the delete
  // or meets no session; afterwards none does.
  std::atomic<int> afterwards{0};
  for (int t = 0; t < 3; ++t) {
    clients.emplace_back([&] {
      qvtest::DriverHttp http(port);
      for (int i = 0; i < 20; ++i) {
        auto reply = http.post(session + "/element", {{"using", "link text"}, {"value", "x"}});
        if (reply.error() == "invalid session id") ++afterwards;
        else EXPECT_EQ(reply.status, 200) << reply.body.dump();
      }
    });
  }
  EXPECT_EQ(qvtest::DriverHttp(port).call("DELETE", session).status, 200);
  for (auto& c : clients) c.join();
  EXPECT_EQ(qvtest::DriverHttp(port).get(session + "/timeouts").error(), "invalid session id");
  EXPECT_EQ(server.driver().sessions.count(), 0u);
  server.stop();
}

TEST(QvdriverConcurrencyTest, IdleSessionsEndOnlyWhenIdle) {
  qvtest::FakeServer agent(scriptedAgent);
  qvdriver::DriverOptions options;
  options.agentPort = agent.port();
  options.idleCheckInterval = std::chrono::milliseconds(5);
  qvdriver::Server server(options);
  const int port = server.bind("127.0.0.1", 0);
  server.start();
  std::vector<std::thread> clients;

  // A session with a second's idle timeout, checked all the time, while clients
  // keep it busy for longer: it never ends under them; left alone, it ends.
  const json idle = {{"capabilities", {{"alwaysMatch", {{"platformName", "quorvel"}, {"quorvel:newCommandTimeout", 1}}}}}};
  qvtest::DriverReply busy = qvtest::DriverHttp(port).post("/session", idle);
  ASSERT_EQ(busy.status, 200) << busy.body.dump();
  const std::string kept = "/session/" + busy.value()["sessionId"].get<std::string>();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  std::atomic<int> ended{0};
  for (int t = 0; t < 3; ++t) {
    clients.emplace_back([&] {
      qvtest::DriverHttp http(port);
      while (std::chrono::steady_clock::now() < until) {
        if (http.post(kept + "/element", {{"using", "link text"}, {"value", "x"}}).status != 200) ++ended;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(qvtest::waitUntil([&] { return server.driver().sessions.count() == 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(qvtest::DriverHttp(port).get(kept + "/timeouts").error(), "invalid session id");
  server.stop();
}

}  // namespace
