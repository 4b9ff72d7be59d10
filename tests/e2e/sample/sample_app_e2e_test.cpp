// The sample application in its own process, driven through the device input only:
// a person's taps and typing change what the screen shows, as the view tree and the
// screenshots tell.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "line_client.h"
#include "app_process.h"
#include "uikit/UIImage.h"
#include "uikit/UIImagePNG.h"

namespace {

struct TreeView {
  int depth = 0;
  std::string className;
  CGRect frame;
  bool hidden = false;
  std::optional<std::string> text, identifier;
  CGPoint middle() const { return {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2}; }
};

std::optional<std::string> quotedField(const std::string& line, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(line, m, std::regex(" " + name + "=\"((?:[^\"\\\\]|\\\\.)*)\""))) return std::nullopt;
  return std::regex_replace(m[1].str(), std::regex("\\\\(.)"), "$1");
}

std::vector<TreeView> parseTree(const std::vector<std::string>& lines) {
  static const std::regex pattern(R"(^( *)(\S+) \{\{([^,]+), ([^}]+)\}, \{([^,]+), ([^}]+)\}\} hidden=([01]).*$)");
  std::vector<TreeView> views;
  for (const auto& line : lines) {
    std::smatch m;
    if (!std::regex_match(line, m, pattern)) {
      ADD_FAILURE() << "unreadable tree line: " << line;
      continue;
    }
    TreeView v;
    v.depth = static_cast<int>(m[1].length() / 2);
    v.className = m[2];
    v.frame = CGRectMake(std::stod(m[3]), std::stod(m[4]), std::stod(m[5]), std::stod(m[6]));
    v.hidden = m[7] == "1";
    v.text = quotedField(line, "text");
    v.identifier = quotedField(line, "id");
    views.push_back(v);
  }
  return views;
}

class SampleApp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.ready()) << "no \"sample-app ready\" line in time";
    ASSERT_GT(app.port(), 0);
    ASSERT_TRUE(client.connect(app.port()));
    dir = std::filesystem::temp_directory_path() / ("qv-sample-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::vector<TreeView> tree() {
    auto lines = client.tree();
    EXPECT_TRUE(lines.has_value());
    return lines ? parseTree(*lines) : std::vector<TreeView>{};
  }

  std::optional<TreeView> find(const std::vector<TreeView>& views, const std::string& identifier) {
    for (const auto& v : views) {
      if (v.identifier == identifier) return v;
    }
    return std::nullopt;
  }

  std::optional<TreeView> findText(const std::vector<TreeView>& views, const std::string& className,
                                   const std::string& text) {
    for (const auto& v : views) {
      if (v.className == className && v.text == text) return v;
    }
    return std::nullopt;
  }

  std::string tap(CGPoint p) {
    char line[64];
    std::snprintf(line, sizeof line, "tap %.1f %.1f", p.x, p.y);
    return client.ask(line);
  }

  std::shared_ptr<UIImage> screenshot(const std::string& name) {
    std::string path = (dir / name).string();
    EXPECT_EQ(client.ask("screenshot " + path), "ok " + path);
    std::ifstream in(path, std::ios::binary);
    NSData bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return UIImageWithPNGData(bytes, 2.0);
  }

  qvtest::AppProcess app;
  qvtest::LineClient client;
  std::filesystem::path dir;
};

// Pixels that differ between two images inside a rectangle of points.
int changedPixels(const std::shared_ptr<UIImage>& a, const std::shared_ptr<UIImage>& b, CGRect points) {
  int changed = 0;
  for (int y = static_cast<int>(points.origin.y * 2); y < static_cast<int>(CGRectGetMaxY(points) * 2); ++y) {
    for (int x = static_cast<int>(points.origin.x * 2); x < static_cast<int>(CGRectGetMaxX(points) * 2); ++x) {
      changed += a->pixelAt(x, y) != b->pixelAt(x, y);
    }
  }
  return changed;
}

}  // namespace

TEST_F(SampleApp, LogInThroughTheDeviceInput) {
  std::printf("sample-app start-up: %lld ms to \"sample-app ready\"\n",
              static_cast<long long>(app.startupTime().count()));
  auto views = tree();
  auto user = find(views, "userField");
  auto outcome = find(views, "outcomeLabel");
  auto logIn = findText(views, "UIButton", "Log In");
  ASSERT_TRUE(user && outcome && logIn);
  EXPECT_EQ(user->text, "User name");  // the placeholder while empty
  EXPECT_EQ(outcome->text, "Not signed in");
  auto before = screenshot("before.png");
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(before->size(), CGSizeMake(390, 844));

  EXPECT_EQ(tap(user->middle()), "ok UITextField");
  EXPECT_EQ(client.ask("type alice"), "ok");
  EXPECT_EQ(find(tree(), "userField")->text, "alice");
  auto typing = screenshot("typing.png");
  // The keyboard covers the bottom of the screen while the field is edited.
  EXPECT_GT(changedPixels(before, typing, CGRectMake(0, 844 - 200, 390, 150)), 1000);

  EXPECT_EQ(tap(logIn->middle()), "ok UIButton");
  views = tree();
  EXPECT_EQ(find(views, "outcomeLabel")->text, "Welcome, alice");
  auto after = screenshot("after.png");
  ASSERT_NE(after, nullptr);
  EXPECT_GT(changedPixels(before, after, outcome->frame), 200);
  EXPECT_EQ(changedPixels(before, after, CGRectMake(0, 844 - 150, 390, 50)), 0);  // the keyboard went away
}

TEST_F(SampleApp, LogInWithoutAUserNameAsksForOne) {
  auto logIn = findText(tree(), "UIButton", "Log In");
  ASSERT_TRUE(logIn);
  EXPECT_EQ(tap(logIn->middle()), "ok UIButton");
  EXPECT_EQ(find(tree(), "outcomeLabel")->text, "Please enter your user name");
  EXPECT_EQ(client.ask("type nobody"), "error: no text input is first responder");
}

TEST_F(SampleApp, TheOtherScreensAreReachedByTaps) {
  auto views = tree();
  auto listTab = findText(views, "UITabBarButton", "List");
  auto settingsTab = findText(views, "UITabBarButton", "Settings");
  auto webTab = findText(views, "UITabBarButton", "Web");
  ASSERT_TRUE(listTab && settingsTab && webTab);

  // The list: more than a hundred rows, most of them below the visible area.
  EXPECT_EQ(tap(listTab->middle()), "ok UITabBarButton");
  views = tree();
  int rows = 0, below = 0;
  for (const auto& v : views) {
    if (v.className != "UITableViewCell") continue;
    ++rows;
    below += v.frame.origin.y > 844;
  }
  EXPECT_GE(rows, 100);
  EXPECT_GT(below, 80);
  auto scroll = find(views, "listScroll");
  ASSERT_TRUE(scroll);
  // A swipe up scrolls; a tap on a row opens its screen with a back button.
  EXPECT_EQ(client.ask("swipe 200 600 200 200"), "ok");
  auto row = findText(tree(), "UILabel", "Row 12");
  ASSERT_TRUE(row);
  EXPECT_LT(row->frame.origin.y, 600);
  EXPECT_EQ(tap(row->middle()).rfind("ok UITableViewCell", 0), 0u);  // the cell or its content view
  views = tree();
  EXPECT_TRUE(findText(views, "UILabel", "You picked row 12"));
  auto back = findText(views, "_UINavigationBarBackIndicatorView", "List");
  ASSERT_TRUE(back);
  EXPECT_EQ(tap(back->middle()), "ok UINavigationBar");
  EXPECT_FALSE(findText(tree(), "_UINavigationBarBackIndicatorView", "List"));

  // Settings: switches, a toggle of the application's own, hidden and deep views.
  EXPECT_EQ(tap(settingsTab->middle()), "ok UITabBarButton");
  views = tree();
  auto custom = find(views, "customToggle");
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->className, "MyToggleSwitch");
  auto hidden = find(views, "hiddenContainer");
  ASSERT_TRUE(hidden && hidden->hidden);
  auto outerBox = find(views, "outerBox");
  auto deep = find(views, "deepLabel");
  ASSERT_TRUE(outerBox && deep);
  EXPECT_EQ(deep->depth, outerBox->depth + 3);
  auto dark = find(views, "darkModeSwitch");
  ASSERT_TRUE(dark);
  EXPECT_EQ(tap(dark->middle()), "ok UISwitch");
  views = tree();
  EXPECT_EQ(find(views, "settingsStatus")->text, "Dark mode on");
  EXPECT_EQ(find(views, "switchChanges")->text, "Switch changes: 1");  // a finger's tap runs the actions
  auto area = find(views, "tapArea");
  ASSERT_TRUE(area);
  tap(area->middle());
  EXPECT_EQ(find(tree(), "settingsStatus")->text, "Tapped 1 time");

  EXPECT_EQ(tap(webTab->middle()), "ok UITabBarButton");
  auto page = find(tree(), "signupPage");
  ASSERT_TRUE(page) << "the Web tab shows its web view";
  EXPECT_EQ(page->className, "UIWebView");
}

TEST_F(SampleApp, NothingAClientSendsBringsItDown) {
  for (const char* line : {"tap", "tap x y", "swipe 1 2 3 4 99999", "nonsense", "tap 1e400 2", "type"}) {
    EXPECT_EQ(client.ask(line).rfind("error: ", 0), 0u) << line;
  }
  client.sendRaw(std::string(100000, 'z'));  // no line break at all
  client.close();
  {
    qvtest::LineClient leaving(app.port());
    leaving.sendLine("swipe 10 300 10 400 50");
    leaving.close();  // gone before the answer
  }
  qvtest::LineClient next(app.port());
  EXPECT_EQ(next.ask("tap 5 5").rfind("ok", 0), 0u);
  EXPECT_TRUE(app.alive());
}

TEST(SampleAppStart, ATakenDevicePortEndsTheApplicationWithAnError) {
  qvtest::AppProcess first;
  ASSERT_TRUE(first.ready());
  qvtest::AppOptions options;
  options.devicePort = first.port();
  qvtest::AppProcess second(options);
  EXPECT_FALSE(second.ready());
  EXPECT_TRUE(qvtest::waitUntil([&] { return !second.alive(); }));
  EXPECT_EQ(second.exitStatus(), 2);
  EXPECT_TRUE(first.alive());
}
