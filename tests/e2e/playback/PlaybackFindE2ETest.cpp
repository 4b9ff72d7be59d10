// The sample application with the agent preloaded, driven as the desktop tool does:
// qvctl sends one playback command per run and prints the reply. The view tree of
// the device input gives the position xpath of the "Log In" button.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "app_process.h"
#include "line_client.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using qvtest::buildDir;

JSONValue play(const JSONValue& request) { return qvtest::playThroughQvctl(request); }

JSONValue findElements(const std::string& tag, const std::string& type, const std::string& value) {
  return play({{"functionname", "findelements"}, {"tagname", tag}, {"accessortype", type}, {"accessorvalue", value}});
}

JSONValue ask(const std::string& function, const std::string& elementId) {
  return play({{"functionname", function}, {"accessorvalue", elementId}});
}

// The lines of the device input's "tree" command (without "ok" and "end").
std::vector<std::string> deviceTree(int port) {
  return qvtest::LineClient(port).tree().value_or(std::vector<std::string>());
}

// The position xpath of the first view of the tree whose line is of class `cls` and
// holds `marker`: one segment per level below the window, each the class and its
// index among the same-class children of its parent.
std::optional<std::string> xpathFromTree(const std::vector<std::string>& lines, const std::string& cls,
                                         const std::string& marker) {
  struct Level {
    std::map<std::string, int> seen;  // class -> children of that class so far
    std::string segment;              // this level's view
  };
  std::vector<Level> path;
  for (const auto& line : lines) {
    std::size_t indent = line.find_first_not_of(' ');
    std::size_t depth = indent / 2;
    std::string lineClass = line.substr(indent, line.find(' ', indent) - indent);
    path.resize(depth + 1);
    if (depth > 0) {
      int index = path[depth - 1].seen[lineClass]++;
      path[depth] = Level{{}, "\\" + lineClass + "[" + std::to_string(index) + "]"};
    } else {
      path[0] = Level{};
    }
    if (depth > 0 && lineClass == cls && line.find(marker) != std::string::npos) {
      std::string xpath;
      for (std::size_t d = 1; d <= depth; ++d) xpath += path[d].segment;
      return xpath;
    }
  }
  return std::nullopt;
}

using qvtest::elementIds;
using qvtest::outputReply;

TEST(PlaybackFindE2ETest, FindsTheLogInButtonFourWaysAndAnswersQueriesAboutIt) {
  ASSERT_TRUE(std::filesystem::exists(buildDir() / "lib" / "libQuorvel.so"));
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready());
  // Another application's agent on the same ports would answer some requests.
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                std::chrono::seconds(10)))
      << "the agent's playback server did not start (port 9898 taken by another process?)";

  // The playback server answers once the agent has started.
  JSONValue byText;
  ASSERT_TRUE(qvtest::waitUntil(
      [&] {
        byText = findElements("UIButton", "text", "Log In");
        return elementIds(byText).size() == 1;
      },
      std::chrono::seconds(20)))
      << byText.dump();
  auto buttonId = elementIds(byText).front();
  EXPECT_EQ(ask("gettext", buttonId), outputReply("Log In"));
  EXPECT_EQ(ask("isenabled", buttonId), outputReply("true"));
  EXPECT_EQ(ask("isdisplayed", buttonId), outputReply("true"));
  auto width = ask("getwidth", buttonId);

  // Without the tag, the button's title label carries the same text.
  EXPECT_GE(elementIds(findElements("", "text", "Log In")).size(), 1u);
  EXPECT_TRUE(elementIds(findElements("UIButton", "text", "log in")).empty());

  auto byPartial = findElements("uibutton", "partialtext", "log in");
  ASSERT_EQ(elementIds(byPartial).size(), 1u) << byPartial.dump();
  EXPECT_EQ(ask("gettext", elementIds(byPartial).front()), outputReply("Log In"));
  // The earlier ID died with that find.
  EXPECT_EQ(ask("gettext", buttonId), JSONValue::array());

  auto byClass = findElements("UIButton", "", "");
  bool classFindHasTheButton = false;
  for (const auto& id : elementIds(byClass)) classFindHasTheButton |= ask("gettext", id) == outputReply("Log In");
  EXPECT_TRUE(classFindHasTheButton) << byClass.dump();

  auto tree = deviceTree(app.port());
  auto xpath = xpathFromTree(tree, "UIButton", "text=\"Log In\"");
  ASSERT_TRUE(xpath) << "no \"Log In\" button in the tree";
  auto byXpath = findElements("", "xpath", *xpath);
  ASSERT_EQ(elementIds(byXpath).size(), 1u) << *xpath << " " << byXpath.dump();
  auto id = elementIds(byXpath).front();
  EXPECT_EQ(ask("gettext", id), outputReply("Log In"));
  EXPECT_EQ(ask("isenabled", id), outputReply("true"));
  EXPECT_EQ(ask("isdisplayed", id), outputReply("true"));
  EXPECT_EQ(ask("getwidth", id), width);
  ASSERT_TRUE(width.is_array() && width.size() == 1) << width.dump();
  EXPECT_GT(std::stoi(width[0]["output"].get<std::string>()), 0);

  EXPECT_TRUE(app.alive());
}

}  // namespace
