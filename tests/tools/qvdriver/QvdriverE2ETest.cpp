// qvdriver over real HTTP against the sample application with the agent: sessions,
// every supported command, the WebDriver errors, and a device that goes away.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "app_process.h"
#include "driver_http.h"
#include "line_client.h"
#include "qvdriver/Server.h"
#include "wait.h"

namespace {

using json = nlohmann::json;
using qvtest::DriverReply;
using qvtest::elementId;

json capabilities(json alwaysMatch, json firstMatch = nullptr) {
  json c = {{"alwaysMatch", std::move(alwaysMatch)}};
  if (!firstMatch.is_null()) c["firstMatch"] = std::move(firstMatch);
  return {{"capabilities", c}};
}

class QvdriverE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<qvtest::AppProcess>();
    ASSERT_TRUE(app->ready());
    ASSERT_TRUE(qvtest::waitUntil([&] { return app->logContains("Playback server started on port 9898"); },
                                  std::chrono::seconds(10)));
    port = server.bind("127.0.0.1", 0);
    server.start();
    http = std::make_unique<qvtest::DriverHttp>(port);
  }

  std::string newSession(const std::string& prefix = "") {
    DriverReply reply = http->post(prefix + "/session", capabilities({{"platformName", "quorvel"}}));
    EXPECT_EQ(reply.status, 200) << reply.body.dump();
    return reply.status == 200 ? "/session/" + reply.value()["sessionId"].get<std::string>() : "/session/none";
  }
  // The first element the locator finds ("" when none).
  std::string find(const std::string& session, const std::string& strategy, const std::string& value) {
    return elementId(http->post(session + "/element", {{"using", strategy}, {"value", value}}).value());
  }
  std::string text(const std::string& session, const std::string& element) {
    DriverReply reply = http->get(session + "/element/" + element + "/text");
    return reply.value().is_string() ? reply.value().get<std::string>() : reply.body.dump();
  }

  std::unique_ptr<qvtest::AppProcess> app;
  qvdriver::Server server;
  int port = 0;
  std::unique_ptr<qvtest::DriverHttp> http;
};

TEST_F(QvdriverE2ETest, LogInAndEveryElementCommand) {
  // Capabilities: another platform or a conflicting merge is refused; the first
  // servable set of firstMatch wins, with its timeouts.
  EXPECT_EQ(http->post("/session", capabilities({{"platformName", "android"}})).error(), "session not created");
  EXPECT_EQ(http->post("/session", capabilities({{"platformName", "quorvel"}}, {{{"platformName", "quorvel"}}})).error(),
            "invalid argument");
  EXPECT_EQ(http->post("/session", capabilities({{"quorvel:host", 7}})).error(), "invalid argument");
  DriverReply created = http->post(
      "/wd/hub/session", {{"capabilities",
                           {{"firstMatch", {{{"platformName", "ios"}}, {{"platformName", "Quorvel"}, {"timeouts", {{"implicit", 250}}}}}}}}});
  ASSERT_EQ(created.status, 200) << created.body.dump();
  EXPECT_EQ(created.value()["capabilities"]["timeouts"]["implicit"], 250);
  EXPECT_EQ(created.value()["capabilities"]["quorvel:host"], "127.0.0.1");
  const std::string s = "/session/" + created.value()["sessionId"].get<std::string>();
  // One session per device.
  EXPECT_EQ(http->post("/session", capabilities({{"platformName", "quorvel"}})).error(), "session not created");
  EXPECT_EQ(http->get(s + "/timeouts").value(), (json{{"implicit", 250}, {"pageLoad", 300000}, {"script", 30000}}));

  // The fields in hierarchy order; typing leaves out WebDriver's key codes, clearing
  // brings the placeholder back.
  DriverReply fields = http->post("/wd/hub" + s + "/elements", {{"using", "class name"}, {"value", "UITextField"}});
  ASSERT_EQ(fields.value().size(), 2u) << fields.body.dump();
  const std::string user = elementId(fields.value()[0]);
  EXPECT_EQ(http->post(s + "/element/" + user + "/value", {{"text", "al\xEE\x80\x8Eice\xEE\x80\x87"}}).status, 200);
  EXPECT_EQ(text(s, user), "alice");
  EXPECT_EQ(text(s, elementId(fields.value()[1])), "Password");
  EXPECT_EQ(http->post(s + "/element/" + user + "/clear", json::object()).status, 200);
  EXPECT_EQ(text(s, user), "User name");
  EXPECT_EQ(http->post(s + "/element/" + user + "/value", {{"text", "alice"}}).status, 200);
  DriverReply userRect = http->get(s + "/element/" + user + "/rect");

  // A find retires every earlier ID; an ID never issued is no element at all.
  const std::string button = find(s, "css selector", "*[id=\"loginButton\"]");
  ASSERT_FALSE(button.empty());
  EXPECT_EQ(http->get(s + "/element/" + user + "/text").error(), "stale element reference");
  EXPECT_EQ(http->get(s + "/element/00000000-0000-0000-0000-000000000000/text").error(), "no such element");
  EXPECT_EQ(http->get(s + "/element/" + button + "/enabled").value(), true);
  EXPECT_EQ(http->get(s + "/element/" + button + "/displayed").value(), true);
  EXPECT_EQ(http->get(s + "/element/" + button + "/selected").value(), false);
  DriverReply buttonRect = http->get(s + "/element/" + button + "/rect");
  EXPECT_EQ(buttonRect.value()["x"], userRect.value()["x"]);
  EXPECT_EQ(buttonRect.value()["width"], userRect.value()["width"]);
  EXPECT_GT(buttonRect.value()["y"].get<double>(), userRect.value()["y"].get<double>() + 44);
  EXPECT_EQ(http->post(s + "/element/" + button + "/click", json::object()).status, 200);
  EXPECT_EQ(text(s, find(s, "partial link text", "welcome")), "Welcome, alice");

  // From an element: the button's own label; the button itself is then stale.
  const std::string title = find(s, "link text", "Log In");
  const std::string label = elementId(
      http->post(s + "/element/" + title + "/element", {{"using", "tag name"}, {"value", "UILabel"}}).value());
  EXPECT_EQ(text(s, label), "Log In");
  EXPECT_EQ(http->get(s + "/element/" + title + "/rect").error(), "stale element reference");

  const std::string toggle = find(s, "accessibility id", "rememberSwitch");
  EXPECT_EQ(http->get(s + "/element/" + toggle + "/selected").value(), false);

  // The screenshot is a PNG of the screen at its scale; the page source nests the
  // button's label inside the button, and retires the IDs of the last find.
  DriverReply shot = http->get(s + "/screenshot");
  ASSERT_TRUE(shot.value().is_string());
  auto png = shot.value().get<std::string>();
  EXPECT_TRUE(png.starts_with("iVBORw0KGgo")) << png.substr(0, 20);  // Base64 of the PNG signature
  DriverReply source = http->get(s + "/source");
  const std::string xml = source.value().get<std::string>();
  const auto open = xml.find("<UIButton class=\"UIButton\" text=\"Log In\" enabled=\"true\"");
  ASSERT_NE(open, std::string::npos) << xml;
  const auto inner = xml.find("<UILabel class=\"UILabel\" text=\"Log In\"", open);
  EXPECT_LT(inner, xml.find("</UIButton>", open)) << xml;
  EXPECT_NE(xml.find("text=\"Welcome, alice\""), std::string::npos);
  EXPECT_EQ(http->get(s + "/element/" + toggle + "/enabled").error(), "stale element reference");

  // The list: a finger dragged up across the scroll view scrolls it.
  EXPECT_EQ(http->post(s + "/element/" + find(s, "link text", "List") + "/click", json::object()).status, 200);
  EXPECT_FALSE(find(s, "link text", "Row 1").empty());
  const std::string list = find(s, "id", "listScroll");
  const json swipe = {{"actions",
                       {{{"type", "pointer"},
                         {"id", "finger"},
                         {"actions",
                          {{{"type", "pointerMove"}, {"origin", {{"element-6066-11e4-a52e-4f735466cecf", list}}}, {"x", 0}, {"y", 100}},
                           {{"type", "pointerDown"}, {"button", 0}},
                           {{"type", "pointerMove"}, {"origin", "pointer"}, {"x", 5}, {"y", -300}, {"duration", 200}},
                           {{"type", "pointerUp"}, {"button", 0}}}}}}}};
  EXPECT_EQ(http->post(s + "/actions", swipe).status, 200);
  EXPECT_EQ(http->post(s + "/elements", {{"using", "link text"}, {"value", "Row 1"}}).value(), json::array());
  // A finger put down and lifted where it went down taps: the row opens.
  const std::string row = find(s, "link text", "Row 12");
  const json tap = {{"actions",
                     {{{"type", "key"}, {"id", "keyboard"}, {"actions", {{{"type", "pause"}, {"duration", 0}}}}},
                      {{"type", "pointer"},
                       {"id", "finger"},
                       {"parameters", {{"pointerType", "touch"}}},
                       {"actions",
                        {{{"type", "pointerMove"}, {"origin", {{"element-6066-11e4-a52e-4f735466cecf", row}}}, {"x", 0}, {"y", 0}},
                         {{"type", "pointerDown"}, {"button", 0}},
                         {{"type", "pause"}, {"duration", 50}},
                         {{"type", "pointerUp"}, {"button", 0}}}}}}}};
  EXPECT_EQ(http->post(s + "/actions", tap).status, 200);
  EXPECT_EQ(http->call("DELETE", s + "/actions").status, 200);
  EXPECT_EQ(text(s, find(s, "accessibility id", "detailLabel")), "You picked row 12");

  // Bad input: each gets its error and changes nothing.
  EXPECT_EQ(http->call("POST", s + "/element", "{\"using\": ").error(), "invalid argument");
  EXPECT_EQ(http->call("POST", s + "/element", "[1, 2]").error(), "invalid argument");
  EXPECT_EQ(http->post(s + "/element", {{"value", "x"}}).error(), "invalid argument");
  EXPECT_EQ(http->post(s + "/element", {{"using", "css selector"}, {"value", "div > p"}}).error(), "invalid selector");
  EXPECT_EQ(http->post(s + "/element", {{"using", "xpath"}, {"value", "\\UIView[0]\\UIButton["}}).error(), "invalid selector");
  EXPECT_EQ(http->post(s + "/element", {{"using", "-ios predicate string"}, {"value", "x"}}).error(), "invalid argument");
  EXPECT_EQ(http->post(s + "/element", {{"using", "class name"}, {"value", ""}}).error(), "invalid argument");
  EXPECT_EQ(http->post(s + "/timeouts", {{"implicit", -1}}).error(), "invalid argument");
  EXPECT_EQ(http->post(s + "/timeouts", {{"implicit", 0}, {"script", "soon"}}).error(), "invalid argument");
  EXPECT_EQ(http->get(s + "/timeouts").value()["implicit"], 250);
  EXPECT_EQ(http->post(s + "/actions", {{"actions", {{{"type", "wheel"}, {"id", "w"}, {"actions", {{{"type", "scroll"}}}}}}}}).error(),
            "unsupported operation");
  EXPECT_EQ(http->post(s + "/url", {{"url", "https://example.org"}}).error(), "unsupported operation");
  EXPECT_EQ(http->get(s + "/no/such/command").status, 404);
  EXPECT_EQ(http->get(s + "/no/such/command").error(), "unknown command");
  EXPECT_EQ(http->get(s + "/element").error(), "unknown method");
  EXPECT_EQ(http->get("/session/not-a-session/source").error(), "invalid session id");

  // Deleting frees the device: a new session reaches the agent again.
  EXPECT_EQ(http->call("DELETE", s).status, 200);
  EXPECT_EQ(http->call("DELETE", s).error(), "invalid session id");
  const std::string again = newSession();
  EXPECT_FALSE(find(again, "id", "detailLabel").empty());
  EXPECT_TRUE(app->alive());
}

TEST_F(QvdriverE2ETest, WebPagesAreRefusedAndIdleSessionsEnd) {
  httplib::Client raw("127.0.0.1", port);
  const std::string caps =
      capabilities({{"platformName", "quorvel"}, {"appium:newCommandTimeout", 1}, {"appium:automationName", "quorvel"}})
          .dump();
  auto newSessionWith = [&](const httplib::Headers& headers, const std::string& type = "application/json") {
    auto result = raw.Post("/session", headers, caps, type);
    return result ? DriverReply{result->status, json::parse(result->body, nullptr, false)} : DriverReply{};
  };
  // A page on a rebinding name that resolves to this machine, and a page of any
  // other origin: 403 with a WebDriver error, and no session is made.
  for (const httplib::Headers& page : {httplib::Headers{{"Host", "rebind.attacker.test:" + std::to_string(port)}},
                                       httplib::Headers{{"Origin", "http://attacker.test"}},
                                       httplib::Headers{{"Origin", "null"}}}) {
    DriverReply refused = newSessionWith(page);
    EXPECT_EQ(refused.status, 403) << refused.body.dump();
    EXPECT_EQ(refused.error(), "invalid argument") << refused.body.dump();
  }
  // A form post that a page may send without asking is not JSON.
  EXPECT_EQ(newSessionWith({}, "text/plain").status, 415);
  EXPECT_EQ(server.driver().sessions.count(), 0u);
  // Above the body cap: refused unread.
  auto large = raw.Post("/session", std::string(17 * 1024 * 1024, ' '), "application/json");
  EXPECT_TRUE(!large || large->status == 413);

  // The endpoint's own names still work: its loopback name and its own origin.
  DriverReply created = newSessionWith({{"Host", "localhost:" + std::to_string(port)},
                                        {"Origin", "http://localhost:" + std::to_string(port)}});
  ASSERT_EQ(created.status, 200) << created.body.dump();
  EXPECT_EQ(created.value()["capabilities"]["quorvel:newCommandTimeout"], 1);
  EXPECT_EQ(created.value()["capabilities"]["appium:automationName"], "Quorvel");
  const std::string s = "/session/" + created.value()["sessionId"].get<std::string>();
  EXPECT_EQ(newSessionWith({}).error(), "session not created");  // the device is taken

  // Commands keep the session alive past its timeout; a second without any ends it
  // and frees the device for the next one.
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(find(s, "accessibility id", "userField").empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  ASSERT_TRUE(qvtest::waitUntil([&] { return server.driver().sessions.count() == 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(http->get(s + "/timeouts").error(), "invalid session id");
  EXPECT_EQ(http->post("/session", capabilities({{"platformName", "quorvel"}, {"appium:automationName", "other"}})).error(),
            "session not created");
  const std::string next = newSession();
  EXPECT_EQ(text(next, find(next, "accessibility id", "outcomeLabel")), "Not signed in");
}

TEST_F(QvdriverE2ETest, ImplicitWaitAndADeviceThatGoesAway) {
  const std::string s = newSession();
  auto centre = [&](const std::string& element) {
    json r = http->get(s + "/element/" + element + "/rect").value();
    return std::to_string(r["x"].get<double>() + r["width"].get<double>() / 2) + " " +
           std::to_string(r["y"].get<double>() + r["height"].get<double>() / 2);
  };
  const std::string field = centre(find(s, "accessibility id", "userField"));
  const std::string button = centre(find(s, "accessibility id", "loginButton"));
  EXPECT_EQ(http->post(s + "/timeouts", {{"implicit", 15000}}).status, 200);
  // While a find waits, a person logs in on the device: the find sees the outcome.
  std::thread person([&] {
    qvtest::LineClient screen(app->port());
    screen.ask("tap " + field);
    screen.ask("type carol");
    screen.ask("tap " + button);
  });
  const std::string outcome = find(s, "link text", "Welcome, carol");
  person.join();
  EXPECT_FALSE(outcome.empty());

  // The agent's process ends mid-session: the session is over, the server serves on.
  app.reset();
  DriverReply lost = http->get(s + "/element/" + outcome + "/text");
  EXPECT_EQ(lost.error(), "invalid session id");
  EXPECT_NE(lost.value()["message"].get<std::string>().find("lost"), std::string::npos) << lost.body.dump();
  EXPECT_EQ(http->get(s + "/element/" + outcome + "/text").error(), "invalid session id");
  EXPECT_EQ(http->get("/status").value()["ready"], true);
  EXPECT_EQ(http->post("/session", capabilities({{"platformName", "quorvel"}})).error(), "session not created");

  app = std::make_unique<qvtest::AppProcess>();
  ASSERT_TRUE(app->ready());
  const std::string next = newSession();
  EXPECT_EQ(text(next, find(next, "accessibility id", "outcomeLabel")), "Not signed in");
}

}  // namespace
