// The sample application's Web tab driven end to end: a person's fingers and keys
// through the device input, the desktop tool through the qvctl client library on
// the recorder (9892) and playback (9898) ports.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app_process.h"
#include "foundation/json.h"
#include "line_client.h"
#include "reply_lists.h"
#include "qvctl/Connection.h"
#include "qvctl/Request.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Where the sign-up page puts its controls (its style sheet fixes them), in the
// page's coordinates.
constexpr double kNameY = 94, kSubmitY = 262, kCentreX = 195;

struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
};

// The window rectangle of the first tree line that holds every marker.
std::optional<Rect> rectInTree(qvtest::LineClient& device, const std::vector<std::string>& markers) {
  auto tree = device.tree();
  if (!tree) return std::nullopt;
  static const std::regex rect(R"(\{\{([-0-9.]+), ([-0-9.]+)\}, \{([-0-9.]+), ([-0-9.]+)\}\})");
  for (const auto& line : *tree) {
    bool all = true;
    for (const auto& marker : markers) all &= line.find(marker) != std::string::npos;
    std::smatch m;
    if (all && std::regex_search(line, m, rect)) {
      return Rect{std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
    }
  }
  return std::nullopt;
}

std::string tap(qvtest::LineClient& device, double x, double y) {
  return device.ask("tap " + std::to_string(x) + " " + std::to_string(y));
}

// Starts the application, opens the Web tab and waits for the page scripts.
// Answers the web view's place in the window.
Rect openWebTab(qvtest::AppProcess& app, qvtest::LineClient& device) {
  EXPECT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); }, 10s))
      << "the agent's playback server did not start (port 9898 taken by another process?)";
  auto tab = rectInTree(device, {"UITabBarButton", "text=\"Web\""});
  EXPECT_TRUE(tab) << "no Web tab";
  if (!tab) return {};
  EXPECT_EQ(tap(device, tab->x + tab->w / 2, tab->y + tab->h / 2), "ok UITabBarButton");
  EXPECT_TRUE(qvtest::waitUntil([&] { return app.logContains("Page scripts injected into the web view"); }, 60s))
      << app.log();
  auto page = rectInTree(device, {"UIWebView", "id=\"signupPage\""});
  EXPECT_TRUE(page);
  return page.value_or(Rect{});
}

// A document with every image member (a Base64 text) shortened, for messages.
JSONValue withoutImages(JSONValue document) {
  if (document.is_object()) {
    for (auto& [key, value] : document.items()) {
      if (key == "ObjectImage" || key == "imageBase64") {
        value = "...";
      } else {
        value = withoutImages(value);
      }
    }
  } else if (document.is_array()) {
    for (auto& value : document) value = withoutImages(value);
  }
  return document;
}

// Frames from the recorder until `accept` has taken `count` documents.
std::vector<JSONValue> recorderDocuments(qvctl::Connection& recorder, std::size_t count,
                                         const std::function<bool(const JSONValue&)>& accept) {
  std::vector<JSONValue> documents;
  std::string seen;  // every frame, images left out, to tell what went missing
  const auto deadline = Clock::now() + 20s;
  while (documents.size() < count) {
    std::string frame;
    try {
      frame = recorder.readFrame(deadline);
    } catch (const qvctl::Error& e) {
      ADD_FAILURE() << "recorder: " << e.what() << " after " << documents.size() << " documents; frames:\n" << seen;
      break;
    }
    auto document = JSONValue::parse(frame, nullptr, false);
    if (!document.is_discarded() && accept(document)) documents.push_back(document);
    seen += (document.is_discarded() ? frame : withoutImages(document).dump()).substr(0, 400) + "\n";
  }
  return documents;
}

bool isWebStep(const JSONValue& d) {
  return d.is_array() && d.size() == 1 && d[0].contains("arguments") && d[0]["arguments"][0].value("mode", "") == "web";
}

bool isWebSpyList(const JSONValue& d) {
  return d.is_array() && !d.empty() && d[0].contains("tagName") && d[0].value("mode", "") == "web";
}

// The browser process the application started (the one on the debugging pipe).
pid_t browserOf(pid_t app) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string statText((std::istreambuf_iterator<char>(stat)), {});
    auto close = statText.rfind(')');
    if (close == std::string::npos) continue;
    int ppid = 0;
    char state;
    std::sscanf(statText.c_str() + close + 2, "%c %d", &state, &ppid);
    std::ifstream cmd(entry.path() / "cmdline");
    std::string cmdline((std::istreambuf_iterator<char>(cmd)), {});
    if (ppid == app && cmdline.find("--remote-debugging-pipe") != std::string::npos) return std::stoi(name);
  }
  return -1;
}

// Gone, or a zombie no one has reaped yet: not running in any case.
bool processEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  auto close = text.rfind(')');
  return text.empty() || close == std::string::npos || text[close + 2] == 'Z' || text[close + 2] == 'X';
}

TEST(WebE2ETest, TouchesAndTypingInThePageRecordPageStepsAndSpyListsAndTheBrowserEndsWithTheApplication) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  qvtest::LineClient device(app.port());
  qvctl::Connection recorder("127.0.0.1", qvctl::kRecorderPort, 5s);
  const Rect page = openWebTab(app, device);
  ASSERT_GT(page.w, 0);

  // Tap the name field, type, tap "Sign Up": three page steps, in order, with images.
  EXPECT_EQ(tap(device, page.x + kCentreX, page.y + kNameY), "ok UIWebBrowserView");
  EXPECT_EQ(device.ask("type Ann"), "ok");
  EXPECT_EQ(tap(device, page.x + kCentreX, page.y + kSubmitY), "ok UIWebBrowserView");
  auto steps = recorderDocuments(recorder, 3, isWebStep);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0][0]["action"], "Click");
  EXPECT_EQ(steps[0][0]["arguments"][0]["id"], "name");
  EXPECT_EQ(steps[1][0]["action"], "TypeTextOnEditBox");
  EXPECT_EQ(steps[1][0]["arguments"][1]["data"], "Ann");
  EXPECT_EQ(steps[2][0]["action"], "ClickButton");
  EXPECT_EQ(steps[2][0]["arguments"][0]["elementText"], "Sign Up");
  EXPECT_EQ(steps[2][0]["arguments"][0]["xpath:position"], "/html[1]/body[1]/form[1]/button[1]");
  for (const auto& step : steps) {
    const std::string image = step[0]["arguments"][0].value("ObjectImage", "");
    // The touched area's JPEG once the step builder keeps one, else the placeholder.
    EXPECT_TRUE(image.rfind("data:image/jpeg;base64,", 0) == 0 || image.rfind("/9j/", 0) == 0) << image.substr(0, 40);
  }

  // Spy mode: a tap in the page is described, element first, up to the body.
  recorder.sendLine("startobjectspy", Clock::now() + 5s);
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Switching to spy"); }));
  // The "Switched to Spy Mode" notice lies over the screen for a few seconds and
  // takes the touches meanwhile.
  EXPECT_TRUE(qvtest::waitUntil([&] { return tap(device, page.x + kCentreX, page.y + kSubmitY) == "ok UIWebBrowserView"; },
                                15s));
  auto spy = recorderDocuments(recorder, 1, isWebSpyList);
  ASSERT_EQ(spy.size(), 1u);
  ASSERT_EQ(spy[0].size(), 3u) << spy[0].dump();
  EXPECT_EQ(spy[0][0]["tagName"], "button");
  EXPECT_EQ(spy[0][0]["xpath:position"], "/html[1]/body[1]/form[1]/button[1]");
  EXPECT_EQ(spy[0][1]["tagName"], "form");
  EXPECT_EQ(spy[0][2]["tagName"], "body");
  recorder.sendLine("stopobjectspy", Clock::now() + 5s);

  // The browser does not outlive the application, however the application ends.
  const pid_t browser = browserOf(app.pid());
  ASSERT_GT(browser, 0) << "no browser process under the application";
  ::kill(app.pid(), SIGKILL);
  ASSERT_TRUE(qvtest::waitUntil([&] { return !app.alive(); }, 10s));
  EXPECT_TRUE(qvtest::waitUntil([&] { return processEnded(browser); }, 10s)) << "browser " << browser << " left running";
}

using Text = std::optional<std::string>;

qvctl::Request request(const std::string& function, const Text& value, const Text& type = std::nullopt,
                       const Text& tag = std::nullopt, const Text& data = std::nullopt) {
  qvctl::Request r;
  r.functionname = function;
  r.accessorvalue = value;
  r.accessortype = type;
  r.tagname = tag;
  r.datavalue = data;
  return r;
}

JSONValue play(qvctl::Connection& playback, const qvctl::Request& request) {
  const std::string reply = qvctl::playRequest(playback, qvctl::buildRequest(request), Clock::now() + 30s);
  auto parsed = JSONValue::parse(reply, nullptr, false);
  return parsed.is_discarded() ? JSONValue(reply) : parsed;
}

using qvtest::elementIds;
using qvtest::outputReply;

TEST(WebE2ETest, PlaybackFindsClicksTypesAndReadsPageElements) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  qvtest::LineClient device(app.port());
  ASSERT_GT(openWebTab(app, device).w, 0);
  qvctl::Connection playback("127.0.0.1", qvctl::kPlayBackPort, 5s, 5s);

  auto button = elementIds(play(playback, request("findelements", "Sign Up", "text", "")));
  ASSERT_EQ(button.size(), 1u) << "the page's button, found by its text";
  auto name = elementIds(play(playback, request("findelements", "//input[@id='name']", "xpath", "input")));
  ASSERT_EQ(name.size(), 1u);

  const std::string typed = "Zo\xC3\xAB 'x' \"y\" \\";
  auto typing = play(playback, request("sendkeysonelement", name[0], std::nullopt, std::nullopt, typed));
  JSONValue readBack;
  EXPECT_TRUE(qvtest::waitUntil([&] {
    readBack = play(playback, request("gettext", name[0]));
    return readBack == outputReply(typed);
  }, 10s)) << readBack.dump();

  button = elementIds(play(playback, request("findelements", "sign up", "partialtext", "button")));
  ASSERT_EQ(button.size(), 1u);
  auto click = play(playback, request("clickelement", button[0]));
  std::vector<std::string> result;
  JSONValue resultText;
  EXPECT_TRUE(qvtest::waitUntil([&] {
    result = elementIds(play(playback, request("findelements", "Welcome", "partialtext", "p")));
    if (result.size() != 1) return false;
    resultText = play(playback, request("gettext", result[0]));
    return true;
  }, 10s)) << "the result text did not change";
  EXPECT_EQ(resultText, outputReply("Welcome, " + typed + "!"));

  // Neither command has a native element under a page's element ID: both reply empty.
  EXPECT_EQ(typing, JSONValue::array());
  EXPECT_EQ(click, JSONValue::array());
}

// A browser that stops answering never holds the application: taps are answered
// at once and a playback find says that the page does not answer. Resumed, the
// page answers again. Killed, the browser is replaced: after a tab switch the page
// is shown and found again.
TEST(WebE2ETest, AStoppedBrowserNeverHoldsTheApplicationAndAKilledOneIsReplaced) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  qvtest::LineClient device(app.port());
  ASSERT_GT(openWebTab(app, device).w, 0);
  auto webTab = rectInTree(device, {"UITabBarButton", "text=\"Web\""});
  auto listTab = rectInTree(device, {"UITabBarButton", "text=\"List\""});
  ASSERT_TRUE(webTab && listTab);
  qvctl::Connection playback("127.0.0.1", qvctl::kPlayBackPort, 5s, 5s);
  const auto findSignUp = request("findelements", "Sign Up", "text", "");
  ASSERT_EQ(elementIds(play(playback, findSignUp)).size(), 1u);
  const pid_t browser = browserOf(app.pid());
  ASSERT_GT(browser, 0);

  // A tap on the (native) tab bar, timed.
  Clock::duration slowestTap{0};
  auto tapTab = [&](const Rect& tab) {
    const auto started = Clock::now();
    const std::string answer = tap(device, tab.x + tab.w / 2, tab.y + tab.h / 2);
    slowestTap = std::max(slowestTap, Clock::now() - started);
    return answer == "ok UITabBarButton";
  };

  ASSERT_EQ(::kill(browser, SIGSTOP), 0);
  // Tapping all along while the agent's polling meets the stopped browser.
  EXPECT_TRUE(qvtest::waitUntil([&] { return tapTab(*webTab) && app.logContains("the page does not answer"); }, 10s))
      << app.log();
  auto started = Clock::now();
  const JSONValue stopped = play(playback, findSignUp);
  EXPECT_LT(Clock::now() - started, 2s) << "a find on a stopped browser";
  ASSERT_TRUE(stopped.is_array() && stopped.size() == 1) << stopped.dump();
  EXPECT_NE(stopped[0].value("exceptionmsg", "").find("does not answer"), std::string::npos) << stopped.dump();
  EXPECT_TRUE(tapTab(*webTab));
  EXPECT_LT(slowestTap, 1s) << "the main thread was held";

  ASSERT_EQ(::kill(browser, SIGCONT), 0);
  EXPECT_TRUE(qvtest::waitUntil([&] { return elementIds(play(playback, findSignUp)).size() == 1; }, 10s));
  EXPECT_TRUE(app.logContains("the page answers again"));

  ASSERT_EQ(::kill(browser, SIGKILL), 0);
  EXPECT_TRUE(qvtest::waitUntil([&] { return app.logContains("killed by signal 9"); }, 10s)) << app.log();
  EXPECT_TRUE(tapTab(*listTab));
  EXPECT_TRUE(tapTab(*webTab));
  std::vector<std::string> found;
  EXPECT_TRUE(qvtest::waitUntil([&] {
    found = elementIds(play(playback, findSignUp));
    return found.size() == 1;
  }, 60s)) << app.log();
  const pid_t replacement = browserOf(app.pid());
  EXPECT_GT(replacement, 0);
  EXPECT_NE(replacement, browser);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(play(playback, request("gettext", found[0])), outputReply("Sign Up"));
}

}  // namespace
