// The sample application with the agent preloaded, driven as the desktop tool does:
// qvctl sends one playback command per run and prints the reply. The view tree of
// the device input gives the position xpath of the "Log In" button.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "app_process.h"
#include "reply_lists.h"
#include "wait.h"

extern char** environ;

namespace {

using qvtest::buildDir;

// Runs qvctl with the arguments and returns what it printed on stdout (empty when
// it failed).
std::string qvctl(const std::vector<std::string>& args) {
  std::string path = (buildDir() / "bin" / "qvctl").string();
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid;
  int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string text;
  if (rc == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text.clear();
  }
  ::close(out[0]);
  return text;
}

// One playback request through qvctl. The playback server takes one client at a
// time and listens again only after the previous client has gone, so a run that
// finds nothing listening yet is repeated.
JSONValue play(const JSONValue& request) {
  std::string reply;
  qvtest::waitUntil(
      [&] {
        reply = qvctl({"play", request.dump()});
        return !reply.empty();
      },
      std::chrono::seconds(10));
  auto parsed = JSONValue::parse(reply, nullptr, false);
  return parsed.is_discarded() ? JSONValue() : parsed;
}

JSONValue findElements(const std::string& tag, const std::string& type, const std::string& value) {
  return play({{"functionname", "findelements"}, {"tagname", tag}, {"accessortype", type}, {"accessorvalue", value}});
}

JSONValue ask(const std::string& function, const std::string& elementId) {
  return play({{"functionname", function}, {"accessorvalue", elementId}});
}

// The lines of the device input's "tree" command (without "ok" and "end").
std::vector<std::string> deviceTree(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<std::string> lines;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::write(fd, "tree\n", 5) == 5) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (text.find("\nend\n") == std::string::npos && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (line != "ok" && line != "end") lines.push_back(line);
    }
  }
  ::close(fd);
  return lines;
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

  // A command without its operation answers with an exception message.
  auto click = play({{"functionname", "clickelement"}, {"accessorvalue", id}});
  ASSERT_TRUE(click.is_array() && click.size() == 1) << click.dump();
  EXPECT_NE(click[0].value("exceptionmsg", "").find("not available yet"), std::string::npos) << click.dump();
  EXPECT_TRUE(app.alive());
}

}  // namespace
