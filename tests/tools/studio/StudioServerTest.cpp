// qvstudio as a process on a free port: with no agent, its routes answer JSON, its
// page is served, and requests naming another origin are refused; beside a sample
// application, floods of bodies, polls and half-sent requests leave its screen
// served at once.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app_process.h"
#include "raw_http.h"
#include "wait.h"

namespace {

using nlohmann::json;

using namespace std::chrono_literals;

qvtest::AppOptions studioOptions(int devicePort) {
  qvtest::AppOptions options;
  options.program = "qvstudio";
  options.arguments = {"--listen", "127.0.0.1:0", "--device-port", std::to_string(devicePort)};
  options.readyLine = "qvstudio ready";
  return options;
}

int portOf(qvtest::AppProcess& studio) {
  const std::string out = studio.output();
  const auto colon = out.find(':', out.find("http://127.0.0.1") + 7);
  return std::stoi(out.substr(colon + 1));
}

// The resident memory of a process, in KiB.
long residentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(StudioServer, ServesItsOwnPageAndRefusesOtherOrigins) {
  // Nothing listens on the agent's or the device's ports in this test's namespace.
  qvtest::AppProcess studio(studioOptions(1));
  ASSERT_TRUE(studio.ready()) << studio.log();
  const std::string out = studio.output();
  const int port = portOf(studio);
  const std::string self = "127.0.0.1:" + std::to_string(port);
  EXPECT_NE(out.find("no authentication"), std::string::npos) << out;

  httplib::Client client("127.0.0.1", port);
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Replaying ends the recording session"), std::string::npos);

  auto state = client.Get("/api/state");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, 200);
  json body = json::parse(state->body);
  EXPECT_EQ(body["stepCount"], 0);
  EXPECT_TRUE(body["recorder"] == "waiting" || body["recorder"] == "connecting") << body;

  // Another site's page in the person's browser, or a rebound host name.
  const httplib::Headers foreign[] = {{{"Origin", "http://evil.example"}},
                                      {{"Origin", "null"}},
                                      {{"Host", "evil.example:" + std::to_string(port)}},
                                      {{"Host", self}, {"Origin", "http://localhost:1"}}};
  for (const auto& headers : foreign) {
    auto refused = client.Post("/api/tap", headers, R"({"x":10,"y":10})", "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403) << refused->body;
    EXPECT_EQ(json::parse(refused->body)["error"], "forbidden origin");
    auto download = client.Get("/api/recording.jsonl", headers);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 403);
  }

  // From its own page: bad input is a 400, an unreachable device a 503, an
  // unknown route a 404, all as JSON errors.
  const httplib::Headers own = {{"Origin", "http://" + self}};
  struct Case {
    const char* path;
    const char* body;
    int status;
  } cases[] = {{"/api/tap", R"({"x":"left","y":1})", 400},
               {"/api/tap", "[1,2]", 400},
               {"/api/tap", R"({"x":10,"y":20})", 503},
               {"/api/spy", R"({"on":true})", 409},
               {"/api/replay", "{}", 400},
               {"/api/nothing", "{}", 404}};
  for (const auto& c : cases) {
    auto reply = client.Post(c.path, own, c.body, "application/json");
    ASSERT_TRUE(reply) << c.path;
    EXPECT_EQ(reply->status, c.status) << c.path << " " << c.body << ": " << reply->body;
    EXPECT_TRUE(json::parse(reply->body).contains("message")) << reply->body;
  }
  EXPECT_NE(studio.log().find("qvstudio: POST /api/tap 403"), std::string::npos) << studio.log();
}

// A 50 MB body, 16 parked long-polls and 200 requests that never finish, all at
// once: the body is refused unread, and the screen image still comes within a
// second, framed by nobody and never sniffed.
TEST(StudioServer, FloodsOfBodiesPollsAndHalfSentRequestsLeaveTheScreenServed) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready()) << app.log();
  qvtest::AppProcess studio(studioOptions(app.port()));
  ASSERT_TRUE(studio.ready()) << studio.log();
  const int port = portOf(studio);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  auto get = [&](const std::string& path) {
    qvtest::RawHttp client(port);
    client.send("GET " + path + " HTTP/1.1\r\n" + host + "\r\n");
    return client.reply(10s);
  };
  ASSERT_TRUE(qvtest::waitUntil([&] {
    auto screen = get("/api/screen.png");
    return screen && screen->status == 200;
  }, 20s)) << studio.log();

  const long before = residentKiB(studio.pid());
  ASSERT_GT(before, 0);
  qvtest::RawHttp flood(port);
  ASSERT_TRUE(flood.send("POST /api/tap HTTP/1.1\r\n" + host + "Content-Type: application/json\r\n" +
                         "Content-Length: " + std::to_string(50 * 1024 * 1024) + "\r\n\r\n"));
  EXPECT_LT(flood.sendFillerUntilAnswered(50u * 1024 * 1024), 50u * 1024 * 1024);
  auto tooLarge = flood.reply();
  ASSERT_TRUE(tooLarge);
  EXPECT_EQ(tooLarge->status, 413);
  EXPECT_LT(residentKiB(studio.pid()) - before, 4 * 1024) << "KiB taken by a refused body";

  auto state = get("/api/state");
  ASSERT_TRUE(state && state->status == 200);
  const std::string version = std::to_string(json::parse(state->body)["version"].get<long>());
  std::vector<std::unique_ptr<qvtest::RawHttp>> polls, halfSent;
  for (int i = 0; i < 16; ++i) {
    polls.push_back(std::make_unique<qvtest::RawHttp>(port));
    ASSERT_TRUE(polls.back()->send("GET /api/state?since=" + version + " HTTP/1.1\r\n" + host + "\r\n"));
  }
  for (int i = 0; i < 200; ++i) {
    halfSent.push_back(std::make_unique<qvtest::RawHttp>(port));
    ASSERT_TRUE(halfSent.back()->send("GET /api/screen.png HTTP/1.1\r\n" + host));
  }
  int parked = 0;
  for (auto& poll : polls) parked += poll->waiting() ? 1 : 0;
  const auto started = std::chrono::steady_clock::now();
  auto screen = get("/api/screen.png");
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->status, 200);
  EXPECT_TRUE(screen->body.starts_with("\x89PNG"));
  EXPECT_LT(took, 1s);
  EXPECT_EQ(parked, 16) << "long-polls answered before anything changed";
  int unanswered = 0;
  for (auto& client : halfSent) unanswered += client->waiting() ? 1 : 0;
  EXPECT_EQ(unanswered, 200) << "half-sent requests answered or dropped before the screen was served";
  for (const auto* reply : {&*screen, &*tooLarge}) {
    EXPECT_EQ(reply->header("content-security-policy"), "frame-ancestors 'none'");
    EXPECT_EQ(reply->header("x-content-type-options"), "nosniff");
  }
}

}  // namespace
