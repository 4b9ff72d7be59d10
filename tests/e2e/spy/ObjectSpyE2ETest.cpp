// The object spy as a person uses it: the sample application with the agent in it,
// touched only through its device input, and one `qvctl record` session into which
// the recorder commands are typed. What the spy highlights is read off the device's
// screen: the screenshot's pixels and the border widths of the view tree.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_process.h"
#include "device_tree.h"
#include "json_lines.h"
#include "line_client.h"
#include "uikit/UIImage.h"
#include "uikit/UIImagePNG.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::AppProcess;
using qvtest::TreeView;
using qvtest::waitUntil;

constexpr double kScale = 2.0;                 // the device screen's
constexpr std::uint32_t kGreen = 0xFF00FF00;   // opaque pure green, ARGB

class ObjectSpyE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.ready()) << "the application did not start; its log:\n" << app.log();
    ASSERT_TRUE(app.logContains("Recorder server started on port 9892")) << app.log();
    ASSERT_TRUE(device.connect(app.port()));
    dir = std::filesystem::temp_directory_path() / ("qv-spy-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::vector<TreeView> tree() { return qvtest::parseTree(device.tree().value_or(std::vector<std::string>{})); }

  std::string tapAt(CGPoint p) {
    char line[64];
    std::snprintf(line, sizeof line, "tap %.1f %.1f", p.x, p.y);
    return device.ask(line);
  }

  std::shared_ptr<UIImage> screenshot() {
    const std::string path = (dir / "screen.png").string();
    if (device.ask("screenshot " + path) != "ok " + path) return nullptr;
    std::ifstream in(path, std::ios::binary);
    NSData bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return UIImageWithPNGData(bytes, kScale);
  }

  // The notice a mode switch shows lies over the whole screen for a while, taking
  // the touches: once it is up, wait until the screen is as it was before.
  void waitForTheNoticeToGo(const std::shared_ptr<UIImage>& before) {
    auto same = [&] {
      auto now = screenshot();
      return now && now->pixelAt(10, 1000) == before->pixelAt(10, 1000) &&
             now->pixelAt(600, 900) == before->pixelAt(600, 900);
    };
    EXPECT_TRUE(waitUntil([&] { return !same(); }, 5s)) << "no notice appeared";
    EXPECT_TRUE(waitUntil(same, 15s)) << "the notice stayed";
  }

  // The views whose layer carries the highlight's 4-point border.
  std::vector<TreeView> bordered() {
    std::vector<TreeView> found;
    for (const auto& v : tree()) {
      if (v.borderWidth == 4) found.push_back(v);
    }
    return found;
  }

  // Sends a highlight request and returns the views that then show the border
  // (empty when none did within the border's second).
  std::vector<TreeView> highlightAt(long n) {
    EXPECT_TRUE(waitUntil([&] { return bordered().empty(); }, 5s)) << "an earlier highlight stayed";
    EXPECT_TRUE(record.writeInput("highlight=" + std::to_string(n) + "\n"));
    std::vector<TreeView> found;
    waitUntil([&] { return !(found = bordered()).empty(); }, 2s);
    return found;
  }

  AppProcess app;
  qvtest::LineClient device;
  std::filesystem::path dir;
  AppProcess record{[] {
    qvtest::AppOptions o;
    o.program = "qvctl";
    o.arguments = {"record"};
    o.readyLine = "";
    o.standardInput = true;
    return o;
  }()};
};

bool sameFrame(const TreeView& a, const TreeView& b) { return a.className == b.className && a.frame == b.frame; }

TEST_F(ObjectSpyE2ETest, TheTouchedLabelAndItsAncestorsAreDescribedAndHighlightedAgainOnRequest) {
  ASSERT_TRUE(waitUntil([&] { return record.logContains("Welcome! RecorderServer StartedSuccessfully"); }, 10s))
      << record.log();
  const auto views = tree();
  std::size_t labelAt = views.size();
  for (std::size_t i = 0; i < views.size(); ++i) {
    if (views[i].identifier == "rememberLabel") labelAt = i;
  }
  ASSERT_LT(labelAt, views.size());
  const TreeView label = views[labelAt];
  auto title = qvtest::findTreeView(views, "loginTitle");
  ASSERT_TRUE(title);
  // The label's ancestors below the window, innermost first, as the tree shows them.
  std::vector<TreeView> ancestors;
  for (std::size_t i = labelAt; i-- > 0;) {
    if (views[i].depth == (ancestors.empty() ? label.depth : ancestors.back().depth) - 1 && views[i].depth > 0) {
      ancestors.push_back(views[i]);
    }
  }
  ASSERT_GE(ancestors.size(), 2u);

  // The agent records a view once its polling has met it: the title is tapped
  // until a step for it arrives, so that every view has its xpath.
  ASSERT_TRUE(waitUntil(
      [&] {
        if (!qvtest::printedJsonLines(record.output()).empty()) return true;
        EXPECT_EQ(tapAt(title->middle()), "ok UIView");
        return waitUntil([&] { return !qvtest::printedJsonLines(record.output()).empty(); }, 2500ms);
      },
      20s))
      << record.log();
  const std::size_t warmUp = qvtest::printedJsonLines(record.output()).size();
  auto before = screenshot();
  ASSERT_TRUE(before);

  ASSERT_TRUE(record.writeInput("startobjectspy\n"));
  waitForTheNoticeToGo(before);

  // The label takes no touches: the finger lands on its container, and the spy
  // picks the label under it. Within the border's second the screen shows it.
  // The border may come a moment after the tap's answer on a busy machine: the
  // screen is read once the tree shows it, and counts only if it is still there.
  ASSERT_EQ(tapAt(label.middle()), "ok UIView");
  std::shared_ptr<UIImage> shot;
  std::vector<TreeView> now;
  ASSERT_TRUE(waitUntil(
      [&] {
        if ((now = bordered()).size() != 1) return false;
        shot = screenshot();
        return shot && bordered().size() == 1;
      },
      2s))
      << "bordered views: " << now.size();
  EXPECT_TRUE(sameFrame(now[0], label));
  const CGRect f = label.frame;
  auto pixel = [&](double x, double y) { return shot->pixelAt(static_cast<int>(x * kScale), static_cast<int>(y * kScale)); };
  for (double t : {0.1, 0.5, 0.9}) {
    const double x = f.origin.x + f.size.width * t;
    const double y = f.origin.y + f.size.height * t;
    EXPECT_EQ(pixel(f.origin.x + 2, y), kGreen) << "left border at " << y;
    EXPECT_EQ(pixel(CGRectGetMaxX(f) - 2, y), kGreen) << "right border at " << y;
    EXPECT_EQ(pixel(x, f.origin.y + 2), kGreen) << "top border at " << x;
    EXPECT_EQ(pixel(x, CGRectGetMaxY(f) - 2), kGreen) << "bottom border at " << x;
    // Nothing of it outside the label.
    EXPECT_NE(pixel(f.origin.x - 1, y), kGreen);
    EXPECT_NE(pixel(x, f.origin.y - 1), kGreen);
  }
  // Four points wide.
  EXPECT_NE(pixel(f.origin.x + 5, CGRectGetMidY(f)), kGreen);
  EXPECT_NE(pixel(CGRectGetMidX(f), f.origin.y + 5), kGreen);

  // One spy list: the label, then each ancestor up to (not including) the window.
  ASSERT_TRUE(waitUntil([&] { return qvtest::printedJsonLines(record.output()).size() > warmUp; }, 10s))
      << record.log();
  const json list = qvtest::printedJsonLines(record.output()).at(warmUp);
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), ancestors.size() + 1) << list.dump(1);
  const json& described = list[0];
  EXPECT_EQ(described.at("elementText"), "Remember me");
  EXPECT_EQ(described.at("id"), "rememberLabel");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const json& r = list[i];
    const TreeView& v = i == 0 ? label : ancestors[i - 1];
    EXPECT_EQ(r.at("class"), v.className) << i;
    EXPECT_EQ(r.at("width"), std::to_string(static_cast<int>(v.frame.size.width))) << i;
    EXPECT_EQ(r.at("height"), std::to_string(static_cast<int>(v.frame.size.height))) << i;
    const json& parent = r.at("parent");
    if (i + 1 < list.size()) {
      EXPECT_EQ(parent.at("class"), list[i + 1].at("class")) << i;
      EXPECT_EQ(parent.at("width"), list[i + 1].at("width")) << i;
      // A view's xpath continues its superview's.
      const std::string xpath = r.at("xpath:position");
      const std::string parentXpath = list[i + 1].at("xpath:position");
      EXPECT_EQ(xpath.rfind(parentXpath + "\\" + v.className + "[", 0), 0u) << xpath << " in " << parentXpath;
    } else {
      EXPECT_EQ(parent.at("class"), "UIWindow");
      EXPECT_EQ(r.at("xpath:position"), "\\" + v.className + "[0]");
    }
  }

  // Highlight requests count from the end of the list: 0 is the topmost ancestor
  // described, count - 1 the label.
  auto top = highlightAt(0);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_TRUE(sameFrame(top[0], ancestors.back()));
  auto again = highlightAt(static_cast<long>(list.size()) - 1);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_TRUE(sameFrame(again[0], label));

  // Back to recording: the next tap is a step again, and it is the only thing
  // printed since the spy list (the spied touch recorded nothing).
  ASSERT_TRUE(record.writeInput("stopobjectspy\n"));
  waitForTheNoticeToGo(before);
  ASSERT_EQ(tapAt(label.middle()), "ok UIView");
  ASSERT_TRUE(waitUntil([&] { return qvtest::printedJsonLines(record.output()).size() > warmUp + 1; }, 10s))
      << record.log();
  const auto lines = qvtest::printedJsonLines(record.output());
  ASSERT_EQ(lines.size(), warmUp + 2) << record.output();
  const json& step = lines.back();
  ASSERT_TRUE(step.is_array() && step.size() == 1) << step.dump(1);
  EXPECT_EQ(step[0].at("action"), "Click");
  EXPECT_EQ(step[0].at("arguments").at(0).at("elementText"), "Remember me");
  EXPECT_EQ(step[0].at("arguments").at(0).at("xpath:position"), described.at("xpath:position"));
}

}  // namespace
