// Clients nobody here wrote drive the sample application through qvdriver: the
// official Selenium bindings and WebdriverIO, installed from the npm registry.
#include <gtest/gtest.h>

#include "app_process.h"
#include "node_clients.h"
#include "qvdriver/Server.h"
#include "wait.h"

namespace {

using json = nlohmann::json;

// What every client must have seen in the log-in flow for `user`.
void expectLogIn(const json& seen, const std::string& user, const char* stale, const char* missing) {
  ASSERT_TRUE(seen.is_object());
  EXPECT_EQ(seen["typed"], user);
  EXPECT_EQ(seen["outcome"], "Welcome, " + user);
  EXPECT_EQ(seen["stale"], stale);
  EXPECT_EQ(seen["missing"], missing);
  // The rectangle read for "Log In" is the one the page source shows for it.
  json rect = qvtest::sourceRect(seen["source"].get<std::string>(), "UIButton", "Log In");
  ASSERT_FALSE(rect.is_null()) << seen["source"];
  for (const char* key : {"x", "y", "width", "height"}) EXPECT_DOUBLE_EQ(seen["rect"][key].get<double>(), rect[key].get<double>()) << key;
  EXPECT_GT(rect["width"].get<double>(), 0);
  // A PNG of the whole screen: its width a whole multiple of the screen's points.
  json root = qvtest::sourceRect(seen["source"].get<std::string>(), "UILayoutContainerView", "");
  ASSERT_FALSE(root.is_null());
  EXPECT_EQ(seen["screenshot"]["signature"], "PNG");
  const auto width = seen["screenshot"]["width"].get<long>();
  EXPECT_GT(width, 0);
  EXPECT_EQ(width % static_cast<long>(root["width"].get<double>()), 0) << width;
}

TEST(QvdriverClientsTest, SeleniumAndWebdriverIOLogIn) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                std::chrono::seconds(10)));
  qvdriver::Server server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.bind("127.0.0.1", 0));
  server.start();

  expectLogIn(qvtest::runClient("selenium_flow.mjs", {url, "127.0.0.1", "alice"}), "alice",
              "StaleElementReferenceError", "NoSuchElementError");
  // WebdriverIO names errors by their WebDriver words; the second session starts
  // once the agent listens again after the first one's connection closed.
  expectLogIn(qvtest::runClient("wdio_flow.mjs", {url + "/wd/hub", "127.0.0.1", "bob"}), "bob",
              "stale element reference", "no such element");
  EXPECT_EQ(server.driver().sessions.count(), 0u);
}

}  // namespace
