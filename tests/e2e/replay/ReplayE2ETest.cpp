// Replay as CI runs it. A login is recorded on the sample application through its
// device input (`qvctl record`), with an assertion on the outcome label; then
// `qvctl replay` plays it against a login form that shows up late (it waits), a
// wrong login (the assertion fails with the label's actual text, the screen is
// saved, the JUnit report names the step), and a renamed button (it fails within
// its timeout, saying what the screen held instead).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app_process.h"
#include "device_tree.h"
#include "line_client.h"
#include "qvctl/Replay.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::AppOptions;
using qvtest::AppProcess;
using qvtest::waitUntil;

std::vector<std::string> jsonLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output.substr(0, output.rfind('\n') + 1));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string tap(qvtest::LineClient& device, CGPoint p) {
  char line[64];
  std::snprintf(line, sizeof line, "tap %.1f %.1f", p.x, p.y);
  return device.ask(line);
}

void write(const std::filesystem::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path);
  for (const auto& line : lines) out << line << "\n";
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The login steps of a real recording, and the outcome label's step.
std::vector<std::string> recordLogin() {
  AppProcess app;
  EXPECT_TRUE(app.ready()) << app.log();
  qvtest::LineClient device(app.port());
  AppOptions recordOptions;
  recordOptions.program = "qvctl";
  recordOptions.arguments = {"record"};
  recordOptions.readyLine = "";
  AppProcess record(recordOptions);
  EXPECT_TRUE(waitUntil([&] { return record.logContains("Welcome! RecorderServer"); }, 10s)) << record.log();
  auto views = qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
  auto title = qvtest::findTreeView(views, "loginTitle");
  auto user = qvtest::findTreeView(views, "userField");
  auto logIn = qvtest::findTreeView(views, "loginButton");
  auto outcome = qvtest::findTreeView(views, "outcomeLabel");
  if (!title || !user || !logIn || !outcome) {
    ADD_FAILURE() << "the login screen is not there";
    return {};
  }
  // Views are recorded once the agent's polling has met them: the title first.
  EXPECT_TRUE(waitUntil(
      [&] {
        tap(device, title->middle());
        return waitUntil([&] { return !jsonLines(record.output()).empty(); }, 2500ms);
      },
      20s));
  const std::size_t warmUp = jsonLines(record.output()).size();
  tap(device, user->middle());
  EXPECT_EQ(device.ask("type abc"), "ok");
  tap(device, logIn->middle());
  tap(device, outcome->middle());
  EXPECT_TRUE(waitUntil([&] { return jsonLines(record.output()).size() >= warmUp + 4; }, 20s)) << record.output();
  auto lines = jsonLines(record.output());
  return {lines.begin() + static_cast<long>(warmUp), lines.end()};
}

// A JUnit report as a consumer of the usual schema reads it (Python's XML parser):
// {"tests", "failures", "cases": {name: failure message or null}}; null when it
// does not hold up.
json readReport(const std::string& report) {
  FILE* pipe = ::popen((std::string(QV_PYTHON) + " " + QV_CHECK_JUNIT + " " + report).c_str(), "r");
  if (!pipe) return nullptr;
  std::string summary;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) summary += buffer;
  if (::pclose(pipe) != 0) {
    ADD_FAILURE() << summary << readAll(report);
    return nullptr;
  }
  return json::parse(summary, nullptr, false);
}

TEST(ReplayE2ETest, WaitsForASlowScreenFailsCleanlyAndReportsForCI) {
  const auto work = std::filesystem::temp_directory_path() / ("qv-replay-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work / "report");
  auto steps = recordLogin();
  ASSERT_EQ(steps.size(), 4u);
  auto outcomeStep = qvctl::parseRecording(steps[3], "outcome").steps.at(0);
  ASSERT_EQ(outcomeStep.action, "Click");
  ASSERT_EQ(outcomeStep.target.text, "Welcome, abc");
  const std::string check = qvctl::assertionLine("text", outcomeStep.target, "Welcome, abc");
  const auto login = work / "login.jsonl";
  write(login, {steps[0], steps[1], steps[2], check});
  json wrongTyping = json::parse(steps[1]);
  wrongTyping[0]["arguments"][1]["data"] = "";
  const auto wrong = work / "wrong.jsonl";
  write(wrong, {steps[0], wrongTyping.dump(), steps[2], check});
  const std::string report = (work / "report" / "replay.xml").string();

  {
    AppOptions slow;
    slow.environment = {{"QV_SAMPLE_LOGIN_DELAY_MS", "2500"}};
    AppProcess app(slow);
    ASSERT_TRUE(app.ready()) << app.log();
    auto run = qvtest::runQvctl({"replay", "--junit", report, login.string(), wrong.string()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("login: 4 of 4 steps passed"), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.out.find("step 4 (line 4) assert text UILabel \"Welcome, abc\" at xpath"), std::string::npos);
    EXPECT_NE(run.out.find("reads \"Please enter your user name\", expected \"Welcome, abc\""), std::string::npos)
        << run.out;
  }
  json read = readReport(report);
  EXPECT_EQ(read["tests"], 2);
  EXPECT_EQ(read["failures"], 1);
  EXPECT_EQ(read["cases"]["login"], nullptr);
  EXPECT_EQ(read["cases"]["wrong"].get<std::string>().rfind("step 4 (line 4): assert text UILabel", 0), 0u)
      << read.dump();
  const std::string jpeg = readAll(work / "report" / "wrong-step4.jpg");
  EXPECT_TRUE(jpeg.starts_with("\xFF\xD8\xFF")) << "the failed step's screen";

  {
    AppOptions renamed;
    renamed.environment = {{"QV_SAMPLE_LOGIN_TITLE", "Sign In"}};
    AppProcess app(renamed);
    ASSERT_TRUE(app.ready()) << app.log();
    const auto started = std::chrono::steady_clock::now();
    auto run = qvtest::runQvctl({"replay", "--timeout", "2", login.string()});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(took, 15s) << "fails within its timeout";
    EXPECT_NE(run.out.find("step 3 (line 3) ClickButton UIButton \"Log In\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("FAILED in"), std::string::npos);
    EXPECT_NE(run.out.find("element not found within 2.0 s: UIButton \"Log In\" at xpath"), std::string::npos);
    EXPECT_NE(run.out.find("the screen held UIButton \"Sign In\""), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("step 4"), std::string::npos) << "nothing after the failed step";

    // Nothing is played when the report cannot be written or a recording is broken.
    run = qvtest::runQvctl({"replay", "--junit", (work / "missing" / "r.xml").string(), login.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write the report"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    const auto broken = work / "broken.jsonl";
    write(broken, {steps[0], "[{\"action\":\"Click\"", steps[2]});
    const std::string brokenReport = (work / "report" / "broken.xml").string();
    run = qvtest::runQvctl({"replay", "--junit", brokenReport, login.string(), broken.string(),
                            (work / "absent.jsonl").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("broken:2: not JSON"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    // The report still holds up: each unreadable recording is a failed case naming
    // its file (and line), the readable one is listed as not played.
    read = readReport(brokenReport);
    EXPECT_EQ(read["tests"], 3) << read.dump();
    EXPECT_EQ(read["failures"], 2);
    EXPECT_EQ(read["cases"]["login"], nullptr);
    EXPECT_EQ(read["cases"]["broken"], "recording " + broken.string() + " does not parse: broken:2: not JSON");
    EXPECT_NE(read["cases"]["absent"].dump().find("absent.jsonl"), std::string::npos) << read.dump();
    EXPECT_NE(readAll(brokenReport).find("<skipped message=\"not played"), std::string::npos);
  }
  if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove_all(work);
}

}  // namespace
