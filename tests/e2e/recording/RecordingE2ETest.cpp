// Recording as a person does it: the sample application with the agent in it,
// touched and typed on through its device input only, and a real `qvctl record`
// process printing the recorder port's frames as JSON Lines. Then, as the desktop
// tool replays a recording, each step's position xpath goes back to the playback
// port and must find the very element that was touched (a playback command ends
// recording, so that comes last).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app_process.h"
#include "device_tree.h"
#include "foundation/data.h"
#include "json_lines.h"
#include "line_client.h"
#include "qvctl/Connection.h"
#include "uikit/UIImage.h"
#include "uikit/UIImageJPEG.h"
#include "uikit/UIScreen.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::AppProcess;
using qvtest::waitUntil;

// The steps `qvctl record` printed so far: each line a list of one step.
std::vector<json> printedSteps(const std::string& output) {
  std::vector<json> steps;
  for (const json& entry : qvtest::printedJsonLines(output)) {
    EXPECT_TRUE(entry.is_array() && entry.size() == 1) << entry.dump().substr(0, 200);
    if (entry.is_array() && !entry.empty()) steps.push_back(entry[0]);
  }
  return steps;
}

const json& element(const json& step) { return step.at("arguments").at(0); }
std::string classNameOf(const json& step) { return element(step).value("className", ""); }

std::string tapAt(qvtest::LineClient& device, CGPoint p) {
  char line[64];
  std::snprintf(line, sizeof line, "tap %.1f %.1f", p.x, p.y);
  return device.ask(line);
}

class RecordingE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.ready()) << "the application did not start; its log:\n" << app.log();
    ASSERT_TRUE(app.logContains("Recorder server started on port 9892"))
        << "the agent's recorder server did not start (port 9892 taken?); its log:\n" << app.log();
    ASSERT_TRUE(device.connect(app.port()));
  }

  AppProcess app;
  qvtest::LineClient device;
};

TEST_F(RecordingE2ETest, TapsAndTypingBecomeStepsThatFindTheirElementsAgain) {
  qvtest::AppOptions recordOptions;
  recordOptions.program = "qvctl";
  recordOptions.arguments = {"record"};
  recordOptions.readyLine = "";
  AppProcess record(recordOptions);
  ASSERT_TRUE(waitUntil([&] { return record.logContains("Welcome! RecorderServer StartedSuccessfully"); }, 10s))
      << record.log();

  auto views = qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
  auto title = qvtest::findTreeView(views, "loginTitle");
  auto user = qvtest::findTreeView(views, "userField");
  auto logIn = qvtest::findTreeView(views, "loginButton");
  auto remember = qvtest::findTreeView(views, "rememberSwitch");
  ASSERT_TRUE(title && user && logIn && remember);

  // Views are recorded once the agent's polling hook has given them their
  // identity: the title is tapped until a step for it arrives.
  ASSERT_TRUE(waitUntil(
      [&] {
        if (!printedSteps(record.output()).empty()) return true;
        EXPECT_EQ(tapAt(device, title->middle()), "ok UIView");
        return waitUntil([&] { return !printedSteps(record.output()).empty(); }, 2500ms);
      },
      20s))
      << "no step for the title; qvctl said:\n" << record.log();
  const std::size_t warmUp = printedSteps(record.output()).size();

  // The switch first: a text field that is still first responder when the agent
  // looks is pending again, and its text would be recorded again before the next
  // touch (typing replaces a field's text at playback, so that does no harm).
  EXPECT_EQ(tapAt(device, remember->middle()), "ok UISwitch");
  EXPECT_EQ(tapAt(device, user->middle()), "ok UITextField");
  EXPECT_EQ(device.ask("type abc"), "ok");
  EXPECT_EQ(tapAt(device, logIn->middle()), "ok UIButton");
  ASSERT_TRUE(waitUntil([&] { return printedSteps(record.output()).size() >= warmUp + 4; }, 20s))
      << "qvctl printed:\n" << record.output();
  std::vector<json> steps = printedSteps(record.output());
  for (std::size_t i = 0; i < warmUp; ++i) EXPECT_EQ(classNameOf(steps[i]), "UILabel") << steps[i].dump(1);
  steps.erase(steps.begin(), steps.begin() + static_cast<long>(warmUp));
  ASSERT_EQ(steps.size(), 4u) << "the keyboard's keys are never recorded";

  EXPECT_EQ(steps[0].at("action"), "Mobile_SelectSwitch");
  EXPECT_EQ(classNameOf(steps[0]), "UISwitch");
  EXPECT_EQ(steps[1].at("action"), "Click");
  EXPECT_EQ(classNameOf(steps[1]), "UITextField");
  EXPECT_EQ(element(steps[1]).at("id"), "userField");
  EXPECT_EQ(steps[2].at("action"), "TypeTextOnEditBox");
  EXPECT_EQ(steps[2].at("arguments").at(1).at("data"), "abc");
  EXPECT_EQ(element(steps[2]).at("xpath:position"), element(steps[1]).at("xpath:position"));
  EXPECT_EQ(steps[3].at("action"), "ClickButton");
  EXPECT_EQ(element(steps[3]).at("elementText"), "Log In");

  // Every element image is a JPEG of the element's size at the screen's scale.
  const double scale = UIScreen::mainScreen()->scale();
  for (const auto& step : steps) {
    const json& e = element(step);
    auto jpeg = foundation::base64Decode(e.at("ObjectImage").get<std::string>());
    ASSERT_TRUE(jpeg);
    auto image = UIImageWithJPEGData(*jpeg);
    ASSERT_TRUE(image) << "not a JPEG: " << e.at("className");
    EXPECT_EQ(image->pixelWidth(), static_cast<int>(std::stod(e.at("width").get<std::string>()) * scale));
    EXPECT_EQ(image->pixelHeight(), static_cast<int>(std::stod(e.at("height").get<std::string>()) * scale));
  }

  // Replay: each position xpath finds exactly the element it was recorded from.
  qvctl::Connection playback("127.0.0.1", qvctl::kPlayBackPort, 10s, 2s);
  auto play = [&](const json& request) {
    return json::parse(qvctl::playRequest(playback, request.dump(), qvctl::Clock::now() + 20s));
  };
  struct Expected {
    const char* query;
    std::string answer;
  };
  const Expected expected[] = {{"isselected", "true"}, {"gettext", "abc"}, {"gettext", "abc"}, {"gettext", "Log In"}};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const json& e = element(steps[i]);
    json found = play({{"functionname", "findelements"}, {"tagname", e.at("className")},
                       {"accessortype", "xpath"}, {"accessorvalue", e.at("xpath:position")}});
    ASSERT_EQ(found.size(), 1u) << e.at("xpath:position") << " found " << found.dump();
    const json id = found[0].at("elementID");
    EXPECT_EQ(play({{"functionname", expected[i].query}, {"accessorvalue", id}}),
              json::array({{{"output", expected[i].answer}}}))
        << e.at("xpath:position");
    EXPECT_EQ(play({{"functionname", "getwidth"}, {"accessorvalue", id}}), json::array({{{"output", e.at("width")}}}));
  }

  // The playback command closed the recorder connection: qvctl says so and ends.
  EXPECT_TRUE(waitUntil([&] { return !record.alive(); }, 10s));
  EXPECT_EQ(record.exitStatus(), 0);
  EXPECT_TRUE(record.logContains("closed the recorder connection")) << record.log();
}

}  // namespace
