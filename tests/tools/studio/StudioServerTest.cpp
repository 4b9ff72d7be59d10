// qvstudio as a process on a free port, with no agent: its routes answer JSON, its
// page is served, and requests naming another origin are refused.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "app_process.h"

namespace {

using nlohmann::json;

TEST(StudioServer, ServesItsOwnPageAndRefusesOtherOrigins) {
  qvtest::AppOptions options;
  options.program = "qvstudio";
  // Nothing listens on the agent's or the device's ports in this test's namespace.
  options.arguments = {"--listen", "127.0.0.1:0", "--device-port", "1"};
  options.readyLine = "qvstudio ready";
  qvtest::AppProcess studio(options);
  ASSERT_TRUE(studio.ready()) << studio.log();
  const std::string out = studio.output();
  const auto colon = out.find(':', out.find("http://127.0.0.1") + 7);
  const int port = std::stoi(out.substr(colon + 1));
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

}  // namespace
