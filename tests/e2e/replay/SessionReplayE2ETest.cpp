// A person's session over every screen of the sample application, recorded
// through its device input only, with quick taps (finger down and up at once):
// both login fields and the button, a list row that opens its detail and the back
// button, a second row (once right away, once after scrolling the list to a row
// below the fold), a tab change, two settings switches and the segmented control,
// the web page's two fields, checkbox and button. `qvctl replay` plays the saved
// recording on a fresh application, and the screens read back the same end state.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app_process.h"
#include "child_run.h"
#include "device_tree.h"
#include "line_client.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::AppProcess;
using qvtest::waitUntil;

// Where the sign-up page puts its controls (its style sheet fixes them), in the
// page's coordinates.
constexpr double kPageX = 195, kNameY = 94, kEmailY = 166, kCheckX = 27, kCheckY = 211, kSubmitY = 262;
const char* const kPageResult = "Welcome, Ann (weekly)!";

std::vector<std::string> jsonLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output.substr(0, output.rfind('\n') + 1));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') lines.push_back(line);
  }
  return lines;
}

// "action class text" for each recorded step, for messages.
std::string summary(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    auto step = json::parse(line, nullptr, false);
    if (step.is_discarded() || !step.is_array() || step.empty()) continue;
    const json& e = step[0]["arguments"][0];
    text += step[0].value("action", "?") + " " + e.value("className", "?") + " \"" + e.value("elementText", "") +
            "\"\n";
  }
  return text;
}

std::vector<qvtest::TreeView> tree(qvtest::LineClient& device) {
  return qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
}

// The first view of the class (or any class, for "") showing `text` or carrying
// the identifier `identifier`.
std::optional<qvtest::TreeView> viewIn(const std::vector<qvtest::TreeView>& views, const std::string& className,
                                       const std::optional<std::string>& text,
                                       const std::optional<std::string>& identifier = std::nullopt) {
  for (const auto& v : views) {
    if (v.hidden || (!className.empty() && v.className != className)) continue;
    if (text && v.text != text) continue;
    if (identifier && v.identifier != identifier) continue;
    return v;
  }
  return std::nullopt;
}

std::string tapAt(qvtest::LineClient& device, CGPoint p) {
  char line[64];
  std::snprintf(line, sizeof line, "tap %.1f %.1f", p.x, p.y);
  return device.ask(line);
}

void tapTab(qvtest::LineClient& device, const std::string& title) {
  auto tab = viewIn(tree(device), "UITabBarButton", title);
  ASSERT_TRUE(tab) << "no tab " << title;
  EXPECT_EQ(tapAt(device, tab->middle()), "ok UITabBarButton");
}

// What the screens show at the end of the session, read off the device's view
// tree tab by tab, and the page's result through a find on the Web tab.
struct EndState {
  std::optional<std::string> welcome, detail;
  std::optional<bool> notifications, darkMode;
  long size = -1;
  bool pageResult = false;
};

EndState readEndState(qvtest::LineClient& device) {
  EndState state;
  tapTab(device, "Login");
  waitUntil([&] { return viewIn(tree(device), "UILabel", std::nullopt, "outcomeLabel").has_value(); }, 5s);
  if (auto label = viewIn(tree(device), "UILabel", std::nullopt, "outcomeLabel")) state.welcome = label->text;
  tapTab(device, "List");
  waitUntil([&] { return viewIn(tree(device), "UILabel", std::nullopt, "detailLabel").has_value(); }, 5s);
  if (auto label = viewIn(tree(device), "UILabel", std::nullopt, "detailLabel")) state.detail = label->text;
  tapTab(device, "Settings");
  waitUntil([&] { return viewIn(tree(device), "UISwitch", std::nullopt, "notificationsSwitch").has_value(); }, 5s);
  auto views = tree(device);
  if (auto v = viewIn(views, "UISwitch", std::nullopt, "notificationsSwitch")) state.notifications = v->on;
  if (auto v = viewIn(views, "UISwitch", std::nullopt, "darkModeSwitch")) state.darkMode = v->on;
  for (const auto& line : device.tree().value_or(std::vector<std::string>{})) {
    auto at = line.find(" selected=");
    if (line.find("id=\"sizeControl\"") != std::string::npos && at != std::string::npos) {
      state.size = std::stol(line.substr(at + 10));
    }
  }
  tapTab(device, "Web");
  auto found = qvtest::playback({"find", "text", kPageResult});
  state.pageResult = found.is_array() && !found.empty();
  return state;
}

class SessionReplayE2ETest : public ::testing::TestWithParam<bool> {};

TEST_P(SessionReplayE2ETest, ARecordedSessionOverEveryScreenReplaysToTheSameEndState) {
  const bool scrollFirst = GetParam();
  const auto work = std::filesystem::temp_directory_path() /
                    ("qv-session-" + std::to_string(::getpid()) + (scrollFirst ? "-scroll" : ""));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const auto recordingPath = work / "session.jsonl";
  // Row 25 lies below the list's frame until the list is scrolled.
  const std::string secondRow = scrollFirst ? "row25" : "row5";
  const std::string secondDetail = scrollFirst ? "You picked row 25" : "You picked row 5";
  std::size_t stepCount = 0;

  {
    AppProcess app;
    ASSERT_TRUE(app.ready()) << app.log();
    qvtest::LineClient device(app.port());
    qvtest::AppOptions recordOptions;
    recordOptions.program = "qvctl";
    recordOptions.arguments = {"record"};
    recordOptions.readyLine = "";
    AppProcess record(recordOptions);
    ASSERT_TRUE(waitUntil([&] { return record.logContains("Welcome! RecorderServer"); }, 10s)) << record.log();
    auto steps = [&] { return jsonLines(record.output()).size(); };
    // A person looks at each screen before touching it: every touch waits until
    // the previous one's steps have arrived.
    auto tap = [&](CGPoint p, std::size_t newSteps) {
      const std::size_t before = steps();
      const std::string answer = tapAt(device, p);
      EXPECT_EQ(answer.rfind("ok", 0), 0u) << answer;
      EXPECT_TRUE(waitUntil([&] { return steps() >= before + newSteps; }, 15s))
          << "after the tap at " << p.x << "," << p.y << " qvctl printed:\n" << summary(jsonLines(record.output()));
    };
    auto at = [&](const std::string& className, const std::optional<std::string>& text,
                  const std::optional<std::string>& identifier = std::nullopt) {
      std::optional<qvtest::TreeView> view;
      EXPECT_TRUE(waitUntil([&] { return (view = viewIn(tree(device), className, text, identifier)).has_value(); },
                            10s))
          << className << " " << text.value_or("") << " " << identifier.value_or("");
      return view ? view->middle() : CGPoint{-1, -1};
    };

    // The polling hook meets the login screen's views within a cycle or two.
    auto title = at("UILabel", std::nullopt, "loginTitle");
    ASSERT_TRUE(waitUntil(
        [&] {
          tapAt(device, title);
          return waitUntil([&] { return steps() > 0; }, 2500ms);
        },
        20s));
    const std::size_t warmUp = steps();

    tap(at("UITextField", std::nullopt, "userField"), 1);
    EXPECT_EQ(device.ask("type ann"), "ok");
    tap(at("UITextField", std::nullopt, "passwordField"), 2);
    EXPECT_EQ(device.ask("type pw"), "ok");
    tap(at("UIButton", std::nullopt, "loginButton"), 2);

    tap(at("UITabBarButton", "List"), 1);
    tap(at("UITableViewCell", std::nullopt, "row3"), 1);
    tap(at("_UINavigationBarBackIndicatorView", std::nullopt), 1);
    auto row = at("UITableViewCell", std::nullopt, "row3");
    if (scrollFirst) {
      char swipe[96];
      std::snprintf(swipe, sizeof swipe, "swipe %.1f %.1f %.1f %.1f 8", row.x, row.y + 500, row.x, row.y);
      EXPECT_EQ(device.ask(swipe).rfind("ok", 0), 0u);
    }
    tap(at("UITableViewCell", std::nullopt, secondRow), 1);
    EXPECT_TRUE(viewIn(tree(device), "UILabel", secondDetail)) << "the row did not open";

    tap(at("UITabBarButton", "Settings"), 1);
    tap(at("UISwitch", std::nullopt, "notificationsSwitch"), 1);
    tap(at("UISwitch", std::nullopt, "darkModeSwitch"), 1);
    tap(at("UISegment", "Large"), 1);

    tap(at("UITabBarButton", "Web"), 1);
    ASSERT_TRUE(waitUntil([&] { return app.logContains("Page scripts injected into the web view"); }, 60s));
    auto page = viewIn(tree(device), "UIWebView", std::nullopt, "signupPage");
    ASSERT_TRUE(page);
    auto onPage = [&](double x, double y) { return CGPoint{page->frame.origin.x + x, page->frame.origin.y + y}; };
    tap(onPage(kPageX, kNameY), 1);
    EXPECT_EQ(device.ask("type Ann"), "ok");
    tap(onPage(kPageX, kEmailY), 2);
    EXPECT_EQ(device.ask("type ann@example.com"), "ok");
    tap(onPage(kCheckX, kCheckY), 2);
    tap(onPage(kPageX, kSubmitY), 1);

    auto lines = jsonLines(record.output());
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(warmUp));
    std::ofstream out(recordingPath);
    for (const auto& line : lines) out << line << "\n";
    out.close();
    // At least 20 steps: 5 on the login screen, 4 on the list, 4 in the settings, 7
    // on the page. A field still first responder when the agent looks is pending
    // again, and its text recorded again before the next touch.
    EXPECT_GE(lines.size(), 20u) << summary(lines);
    stepCount = lines.size();

    const EndState recorded = readEndState(device);
    EXPECT_EQ(recorded.welcome, "Welcome, ann");
    EXPECT_EQ(recorded.detail, secondDetail);
    EXPECT_EQ(recorded.notifications, false);
    EXPECT_EQ(recorded.darkMode, true);
    EXPECT_EQ(recorded.size, 2);
    EXPECT_TRUE(recorded.pageResult);
  }

  AppProcess app;
  ASSERT_TRUE(app.ready()) << app.log();
  qvtest::LineClient device(app.port());
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  auto run = qvtest::runChild({(build / "bin" / "qvctl").string(), "replay", "--keep-going", "--timeout", "8",
                               recordingPath.string()},
                              "", 180s);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string all = std::to_string(stepCount);
  EXPECT_NE((run.out + run.err).find(all + " of " + all + " steps passed"), std::string::npos) << run.out << run.err;

  const EndState replayed = readEndState(device);
  EXPECT_EQ(replayed.welcome, "Welcome, ann");
  EXPECT_EQ(replayed.detail, secondDetail) << run.out;
  EXPECT_EQ(replayed.notifications, false);
  EXPECT_EQ(replayed.darkMode, true);
  EXPECT_EQ(replayed.size, 2);
  EXPECT_TRUE(replayed.pageResult);
  std::filesystem::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAScroll, SessionReplayE2ETest, ::testing::Bool());

}  // namespace
