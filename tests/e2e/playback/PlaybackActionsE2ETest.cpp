// The sample application driven with qvctl alone, as the desktop tool's user would:
// typing into the login form and clicking "Log In", clicking a switch, opening the
// list and scrolling it with "swipeto", "swipereset" and "swipeon".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_process.h"
#include "foundation/json.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using qvtest::elementIds;
using qvtest::outputReply;
using qvtest::playback;

// The IDs of `find <type> <value> <class>`.
std::vector<std::string> find(const std::string& type, const std::string& value, const std::string& cls) {
  return elementIds(playback({"find", type, value, cls}));
}

// The one element a find names; empty (and a failure) when it names none or several.
std::string findOne(const std::string& type, const std::string& value, const std::string& cls) {
  auto ids = find(type, value, cls);
  EXPECT_EQ(ids.size(), 1u) << "find " << type << " \"" << value << "\" " << cls;
  return ids.size() == 1 ? ids.front() : std::string();
}

bool rowOnScreen(int row) { return !find("text", "Row " + std::to_string(row), "UITableViewCell").empty(); }

TEST(PlaybackActionsE2ETest, TypeClickAndSwipeThroughQvctl) {
  ASSERT_TRUE(std::filesystem::exists(qvtest::agentLibrary()));
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                std::chrono::seconds(10)))
      << "the agent's playback server did not start (port 9898 taken by another process?)";

  // Log in: type into both fields, click the button, read the outcome.
  const JSONValue nothing = JSONValue::array();
  EXPECT_EQ(playback({"type", findOne("text", "User name", "UITextField"), "alice"}), nothing);
  EXPECT_EQ(playback({"type", findOne("text", "Password", "UITextField"), "s3cret"}), nothing);
  EXPECT_EQ(playback({"click", findOne("text", "Log In", "UIButton")}), nothing);
  EXPECT_EQ(playback({"gettext", findOne("partialtext", "welcome", "UILabel")}), outputReply("Welcome, alice"));

  // The switch is toggled directly: on, without running its value-changed actions.
  auto remember = findOne("", "", "UISwitch");
  EXPECT_EQ(playback({"isselected", remember}), outputReply("false"));
  EXPECT_EQ(playback({"click", remember}), nothing);
  EXPECT_EQ(playback({"isselected", remember}), outputReply("true"));
  EXPECT_EQ(playback({"gettext", findOne("partialtext", "Remember me changes", "UILabel")}),
            outputReply("Remember me changes: 0"));

  // The list: a scroll view 844 points tall around rows 44 points high; rows 1 to 20
  // show at first (visibility goes by the scroll view's clipping).
  EXPECT_EQ(playback({"click", findOne("text", "List", "UILabel")}), nothing);
  ASSERT_TRUE(rowOnScreen(1));
  EXPECT_FALSE(rowOnScreen(25));
  // "swipeto" scrolls the list's scroll view and its table by 200 points each: the
  // rows move up by 400 points.
  EXPECT_EQ(playback({"swipeto"}), nothing);
  EXPECT_TRUE(qvtest::waitUntil([] { return rowOnScreen(25); }, std::chrono::seconds(10)));
  EXPECT_FALSE(rowOnScreen(1));
  EXPECT_EQ(playback({"swipereset"}), nothing);
  EXPECT_TRUE(qvtest::waitUntil([] { return rowOnScreen(1); }, std::chrono::seconds(10)));
  EXPECT_FALSE(rowOnScreen(25));

  // "swipeon" "up" drags a finger from the lower to the upper quarter line: the
  // rows move up with it by half the scroll view's height (422 points).
  EXPECT_EQ(playback({"swipeon", findOne("", "", "UIScrollView"), "up"}), nothing);
  EXPECT_TRUE(rowOnScreen(25));
  EXPECT_FALSE(rowOnScreen(1));
  EXPECT_TRUE(app.alive());
}

}  // namespace
