// `qvctl export` turns a recording of the log-in (a tap on the user field, a name
// with quotes, a backslash and "${" typed, the "Remember me" switch, "Log In", the
// outcome checked, then a row found by scrolling the list) into a WebdriverIO
// module and a Python script. Each runs by itself through qvdriver against a fresh
// sample application and leaves it logged in; with the expected outcome spoiled by
// characters both languages must escape, each fails at that step, in replay's words,
// and never leaves a session behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app_process.h"
#include "node_clients.h"
#include "qvctl_run.h"
#include "qvdriver/Server.h"
#include "wait.h"

namespace {

using nlohmann::json;

const std::string kUser = R"(O'Hara "Q" \ ${x} Zoë)";
const std::string kWelcome = "Welcome, " + kUser + " (remembered)";
// Quotes of every kind, a backslash, a newline, a tab, a control character, "${",
// a line separator (the end of a line in a JavaScript comment) and an emoji.
const std::string kSpoiled = "Welcome, \"\"\" ''' \\n \\\n\t\x01 ${user} `\xE2\x80\xA8\xF0\x9F\x98\x80";

const std::string kRoot = R"(\UILayoutContainerView[0]\UILayoutContainerView[0]\UIView[0])";

json element(const std::string& className, const std::string& xpath, const std::string& text = "") {
  json described = {{"className", className}, {"mode", "native"}, {"xpath:position", kRoot + xpath}};
  if (!text.empty()) described["elementText"] = text;
  return described;
}

json step(const std::string& action, const json& target, const std::string& data = "") {
  return json::array({{{"action", action}, {"arguments", {target, {{"type", "string"}, {"data", data}}}}}});
}

json tab(const std::string& title) {
  return step("Click", {{"className", "UILabel"}, {"elementText", title}, {"mode", "native"}});
}

// The recording as the studio saves it, with a spy list (not a step) on line 3 and
// a blank line before the tab steps.
std::string recording(const std::string& expected) {
  const json field = element("UITextField", R"(\UITextField[0])", "User name");
  const std::vector<json> lines = {
      step("Click", field),
      step("TypeTextOnEditBox", field, kUser),
      json::array({{{"tagName", "UISwitch"}, {"class", "UISwitch"}, {"id", "rememberSwitch"}}}),
      step("Mobile_SelectSwitch", element("UISwitch", R"(\UISwitch[0])")),
      step("ClickButton", element("UIButton", R"(\UIButton[0])", "Log In")),
      {{"assert", "text"}, {"expected", expected}, {"target", element("UILabel", R"(\UILabel[3])", kWelcome)}},
      nullptr,
      tab("List"),
      step("Click", {{"className", "UILabel"}, {"elementText", "Row 40"}}),
      {{"assert", "visible"}, {"target", {{"className", "UILabel"}, {"elementText", "You picked row 40"}}}},
      tab("Login")};
  std::string text;
  for (const auto& line : lines) text += (line.is_null() ? "" : line.dump()) + "\n";
  return text;
}

void write(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The outcome label's text, asked of the agent through its playback port.
std::string outcome() {
  const json found = qvtest::playback({"find", "accessibilityid", "outcomeLabel"});
  if (!found.is_array() || found.empty()) return "(no outcome label)";
  const json text = qvtest::playback({"gettext", found[0].value("elementID", "")});
  return text.is_array() && !text.empty() ? text[0].value("output", "") : "(no text)";
}

struct Exported {
  std::vector<std::string> command;  // what runs the test file
  std::filesystem::path file;
};

TEST(QvctlExportTest, ExportedTestsLogInThroughQvdriverAndNameTheFailedStep) {
  // Below the npm packages, so that the module's `import 'webdriverio'` resolves.
  const auto work = qvtest::npmDir() / ("qvctl-export-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const auto login = work / "login.jsonl", broken = work / "broken.jsonl";
  // Its name stands in the header comment of each test: a newline and a line separator.
  const auto spoiled = work / "spoiled\n\xE2\x80\xA8\"${name}\".jsonl";
  write(login, recording(kWelcome));
  write(spoiled, recording(kSpoiled));
  write(broken, recording(kWelcome) + "[{\"action\":\"Click\"}]\n{\"assert\":\"text\"\n");

  // Usage errors; a recording that does not parse names each bad line, and no file is written.
  EXPECT_EQ(qvtest::runQvctl({"export", login.string()}).status, 2);
  EXPECT_EQ(qvtest::runQvctl({"export", "--to", "java", login.string()}).status, 2);
  EXPECT_EQ(qvtest::runQvctl({"export", "--to", "python", "--capabilities", "[1]", login.string()}).status, 2);
  auto run = qvtest::runQvctl({"export", "--to", "python", broken.string(), "-o", (work / "broken.py").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("broken:12: missing key \"arguments\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("broken:13: not JSON"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(work / "broken.py"));

  qvdriver::Server server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.bind("127.0.0.1", 0));
  server.start();

  // The WebdriverIO module written to a file, for the endpoint under /wd/hub; the
  // Python script from standard output, for the endpoint at the root.
  auto exported = [&](const std::filesystem::path& from, const std::string& name, std::vector<std::string> extra) {
    std::vector<Exported> tests = {{{"node"}, work / (name + ".mjs")}, {{"/usr/bin/python3"}, work / (name + ".py")}};
    std::vector<std::string> args = {"export", "--capabilities",
                                     R"({"appium:deviceName":"sample phone","quorvel:newCommandTimeout":30})"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto toFile = args;
    toFile.insert(toFile.end(), {"--webdriver", url + "/wd/hub", "--to", "webdriverio", from.string(), "-o",
                                 tests[0].file.string()});
    EXPECT_EQ(qvtest::runQvctl(toFile).status, 0);
    args.insert(args.end(), {"--webdriver", url, "--to", "python", from.string()});
    auto toStdout = qvtest::runQvctl(args);
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    write(tests[1].file, toStdout.out);
    for (auto& test : tests) test.command.push_back(test.file.string());
    return tests;
  };
  const auto quoted = [](const std::string& text) { return json(text).dump(); };

  const auto started = [](qvtest::AppProcess& app) {
    return app.ready() && qvtest::waitUntil([&] { return app.logContains("Playback server started on port 9898"); },
                                            std::chrono::seconds(10));
  };
  for (const auto& test : exported(login, "login", {})) {
    qvtest::AppProcess app;
    ASSERT_TRUE(started(app)) << app.log();
    const auto ran = qvtest::runChild(test.command, "", std::chrono::seconds(180));
    EXPECT_EQ(ran.status, 0) << test.file << "\n" << ran.out << ran.err;
    for (const std::string& said : std::vector<std::string>{
             "step 1 (line 1): clicked\n", "step 2 (line 2): typed " + quoted(kUser) + "\n",
          std::string("step 3 (line 4): switched on\n"), "step 5 (line 6): reads " + quoted(kWelcome) + "\n",
          std::string("step 7 (line 9): clicked\nstep 8 (line 10): is visible\nstep 9 (line 11): clicked\n"),
          std::string("passed: 9 steps\n")}) {
      EXPECT_NE(ran.out.find(said), std::string::npos) << test.file << " said no " << said << "\n" << ran.out << ran.err;
    }
    EXPECT_EQ(outcome(), kWelcome) << test.file;
  }

  // Spoiled: the outcome is checked for a second and the test stops there; the
  // second run finds the switch on already.
  qvtest::AppProcess app;
  ASSERT_TRUE(started(app)) << app.log();
  const std::string failure = "step 5 (line 6): assert text failed: UILabel " + quoted(kWelcome) + " at xpath " +
                              kRoot + R"(\UILabel[3] reads )" + quoted(kWelcome) + ", expected " + quoted(kSpoiled) +
                              "\n";
  const char* switched = "step 3 (line 4): switched on\n";
  for (const auto& test : exported(spoiled, "spoiled", {"--timeout", "1"})) {
    const auto ran = qvtest::runChild(test.command, "", std::chrono::seconds(180));
    EXPECT_EQ(ran.status, 1) << test.file << "\n" << ran.out << ran.err;
    EXPECT_NE(ran.err.find(failure), std::string::npos) << test.file << "\n" << ran.err;
    EXPECT_NE(ran.out.find(std::string(switched) + "step 4 (line 5): clicked\n"), std::string::npos) << ran.out;
    switched = "step 3 (line 4): already on\n";
    EXPECT_EQ(ran.out.find("step 6"), std::string::npos) << ran.out;
    EXPECT_EQ(ran.out.find("passed"), std::string::npos) << ran.out;
  }
  EXPECT_EQ(outcome(), kWelcome);
  EXPECT_EQ(server.driver().sessions.count(), 0u);
  std::filesystem::remove_all(work);
}

}  // namespace
