// Clients nobody here wrote drive the sample application through qvdriver: the
// official Selenium bindings and WebdriverIO, installed from the npm registry, and
// Debian's Python bindings. Each logs in, then tours the element states and
// attributes, the window, pointer and key actions and the mobile commands.
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

// What every client must have seen on its tour, after logging in as `user`.
void expectTour(const json& seen, const std::string& user, const char* invalidSelector) {
  ASSERT_TRUE(seen.is_object());
  EXPECT_EQ(seen["displayed"], true);
  const json& a = seen["attributes"];
  EXPECT_EQ(a["value"], user);
  EXPECT_EQ(a["text"], user);
  EXPECT_EQ(a["name"], a["label"]);
  EXPECT_EQ(a["id"], "userField");
  EXPECT_EQ(a["class"], "UITextField");
  EXPECT_EQ(a["enabled"], "true");
  EXPECT_EQ(a["selected"], "false");
  EXPECT_EQ(a["displayed"], "true");
  EXPECT_EQ(a["visible"], "true");
  json rect = json::parse(a["rect"].get<std::string>(), nullptr, false);
  ASSERT_TRUE(rect.is_object()) << a["rect"];
  EXPECT_EQ(seen["tagName"], "UITextField");

  // The window is the screen in points: the field lies inside it; the screenshot
  // has a whole number of pixels per point, and the element's screenshot is the
  // element's size at that scale.
  const json& window = seen["windowRect"];
  const double width = window["width"].get<double>();
  EXPECT_GT(width, 0);
  EXPECT_LE(rect["x"].get<double>() + rect["width"].get<double>(), width);
  EXPECT_EQ(seen["screenShot"]["width"].get<long>() % static_cast<long>(width), 0);
  const double scale = seen["screenShot"]["width"].get<double>() / width;
  EXPECT_EQ(seen["screenShot"]["height"].get<double>(), window["height"].get<double>() * scale);
  EXPECT_EQ(seen["elementShot"]["signature"], "PNG");
  EXPECT_NEAR(seen["elementShot"]["width"].get<double>(), seen["buttonRect"]["width"].get<double>() * scale, 1);
  EXPECT_NEAR(seen["elementShot"]["height"].get<double>(), seen["buttonRect"]["height"].get<double>() * scale, 1);

  // Typed by key actions; the secure field shows one bullet per character
  // ("secret" then "pw"), in its text, its value and the page source.
  EXPECT_EQ(seen["keyed"], "zed");
  std::string bullets;
  for (int i = 0; i < 8; ++i) bullets += "\xE2\x80\xA2";
  EXPECT_EQ(seen["secret"], bullets);
  EXPECT_EQ(seen["secretValue"], bullets);
  const std::string source = seen["secretSource"];
  EXPECT_NE(source.find("text=\"" + bullets + "\""), std::string::npos) << source;
  EXPECT_EQ(source.find("secret"), std::string::npos);
  EXPECT_EQ(source.find("pw"), std::string::npos);

  EXPECT_EQ(seen["invalidSelector"], invalidSelector);
  EXPECT_EQ(seen["settings"], "No changes");
  EXPECT_EQ(seen["switchLabel"], "Notifications");
  EXPECT_GT(seen["row1Before"], 0);  // the row, and its label
  EXPECT_EQ(seen["row1After"], 0);
  EXPECT_EQ(seen["row30Displayed"], true);
}

TEST(QvdriverClientsTest, SeleniumWebdriverIOAndPythonLogInAndTour) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                std::chrono::seconds(10)));
  qvdriver::Server server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.bind("127.0.0.1", 0));
  server.start();

  json selenium = qvtest::runClient("selenium_flow.mjs", {url, "127.0.0.1", "alice"});
  expectLogIn(selenium, "alice", "StaleElementReferenceError", "NoSuchElementError");
  expectTour(selenium, "alice", "InvalidSelectorError");
  // WebdriverIO names errors by their WebDriver words; the second session starts
  // once the agent listens again after the first one's connection closed.
  json wdio = qvtest::runClient("wdio_flow.mjs", {url + "/wd/hub", "127.0.0.1", "bob"});
  expectLogIn(wdio, "bob", "stale element reference", "no such element");
  expectTour(wdio, "bob", "invalid selector");

  // The Python bindings wait for visibility through their own isDisplayed script.
  json python = qvtest::runPythonClient("python_flow.py", {url, "127.0.0.1", "carol"});
  ASSERT_TRUE(python.is_object());
  EXPECT_EQ(python["typed"], "carol");
  EXPECT_EQ(python["outcome"], "Welcome, carol");
  EXPECT_EQ(python["stale"], "StaleElementReferenceException");
  EXPECT_EQ(python["missing"], "NoSuchElementException");
  EXPECT_EQ(python["capabilities"]["appium:deviceName"], "sample phone");
  EXPECT_EQ(python["capabilities"]["appium:automationName"], "Quorvel");
  EXPECT_EQ(python["domAttribute"], "userField");
  EXPECT_EQ(python["property"], true);
  EXPECT_EQ(python["windowSize"]["width"], python["windowRect"]["width"]);
  EXPECT_EQ(python["windowHandles"], json::array({"NATIVE_APP", {"NATIVE_APP"}}));
  EXPECT_EQ(python["orientation"], "PORTRAIT");
  expectTour(python, "carol", "InvalidSelectorException");
  EXPECT_EQ(server.driver().sessions.count(), 0u);
}

}  // namespace
