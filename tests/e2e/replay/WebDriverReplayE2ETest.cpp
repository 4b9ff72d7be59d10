// Recordings played through a WebDriver endpoint rather than the agent's port: a
// login typed, clicked and checked on the sample application through its qvdriver,
// a recording whose check fails, a row found by scrolling the list, and an
// endpoint that is not there. Each recording
// gets a session of its own, deleted after it whatever happened; exit codes, step
// lines and the JUnit report are those of the direct replay.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app_process.h"
#include "qvctl_run.h"
#include "qvdriver/Server.h"

namespace {

using nlohmann::json;

void write(const std::filesystem::path& path, const std::vector<json>& lines) {
  std::ofstream out(path);
  for (const auto& line : lines) out << line.dump() << "\n";
}

json step(const std::string& action, const std::string& className, const std::string& text, json data = json::object()) {
  return json::array({{{"action", action},
                       {"arguments", json::array({{{"className", className}, {"elementText", text}}, data})}}});
}

json welcomeReads(const std::string& expected) {
  return {{"assert", "text"}, {"target", {{"className", "UILabel"}, {"elementText", "Welcome, abc"}}}, {"expected", expected}};
}

// A JUnit report read by Python's XML parser: {"tests", "failures", "cases"}.
json readReport(const std::string& report) {
  qvtest::ChildRun run = qvtest::runChild({QV_PYTHON, QV_CHECK_JUNIT, report});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  return json::parse(run.out, nullptr, false);
}

TEST(WebDriverReplayE2ETest, PlaysRecordingsInSessionsOfTheirOwnAndReportsLikeTheDirectReplay) {
  const auto work = std::filesystem::temp_directory_path() / ("qv-wdreplay-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const auto login = work / "login.jsonl", wrong = work / "wrong.jsonl", again = work / "again.jsonl";
  write(login, {step("TypeTextOnEditBox", "UITextField", "User name", {{"data", "abc"}}),
                step("ClickButton", "UIButton", "Log In"), welcomeReads("Welcome, abc")});
  write(wrong, {welcomeReads("Welcome, abc"), welcomeReads("Welcome, bob")});
  write(again, {welcomeReads("Welcome, abc")});
  // A row far down the list: found by scrolling the screen towards it.
  const auto row = work / "row.jsonl";
  write(row, {step("Click", "UILabel", "List"), step("Click", "UILabel", "Row 40"),
              {{"assert", "visible"}, {"target", {{"className", "UILabel"}, {"elementText", "You picked row 40"}}}}});
  const std::string report = (work / "report.xml").string();

  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready()) << app.log();
  qvdriver::Server driver;
  std::mutex logged;
  std::vector<std::string> requests;
  driver.setLogger([&](const std::string& line) {
    std::lock_guard lock(logged);
    requests.push_back(line);
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(driver.bind("127.0.0.1", 0));
  driver.start();

  auto run = qvtest::runQvctl({"replay", "--webdriver", url, "--timeout", "3", "--junit", report,
                               login.string(), wrong.string()});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("login: 3 of 3 steps passed"), std::string::npos) << run.out << run.err;
  EXPECT_NE(run.err.find("wrong: 1 of 2 steps passed"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("step 1 (line 1) TypeTextOnEditBox UITextField \"User name\" data \"abc\": passed"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("step 2 (line 2) assert text UILabel \"Welcome, abc\" reads \"Welcome, bob\": FAILED"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("reads \"Welcome, abc\", expected \"Welcome, bob\""), std::string::npos) << run.out;

  json read = readReport(report);
  EXPECT_EQ(read["tests"], 2) << read.dump();
  EXPECT_EQ(read["failures"], 1);
  EXPECT_EQ(read["cases"]["login"], nullptr);
  EXPECT_EQ(read["cases"]["wrong"].get<std::string>().rfind("step 2 (line 2): assert text UILabel", 0), 0u)
      << read.dump();

  // The failed recording's session was deleted too: the device takes a new one.
  run = qvtest::runQvctl({"replay", "--webdriver", url + "/wd/hub/", "--json", "--timeout", "20", "--capabilities",
                          R"({"appium:deviceName":"sample"})", again.string(), row.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  std::vector<json> lines;
  std::istringstream out(run.out);
  for (std::string text; std::getline(out, text);) lines.push_back(json::parse(text, nullptr, false));
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0].value("recording", ""), "again");
  EXPECT_EQ(lines[3].value("recording", ""), "row");
  for (const auto& line : lines) EXPECT_EQ(line.value("passed", false), true) << line.dump();
  {
    std::lock_guard lock(logged);
    std::size_t created = 0, deleted = 0;
    for (const auto& request : requests) {
      if (request.find("POST /session ") != std::string::npos || request.find("POST /wd/hub/session ") != std::string::npos) ++created;
      if (request.find("DELETE ") != std::string::npos) ++deleted;
    }
    EXPECT_EQ(created, 4u);
    EXPECT_EQ(deleted, 4u);
  }

  // Nothing listens there: the step says so and the run fails; a bad capability
  // set or --jobs without an endpoint is a usage error.
  run = qvtest::runQvctl({"replay", "--webdriver", "http://127.0.0.1:1", again.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("FAILED"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("POST http://127.0.0.1:1/session"), std::string::npos) << run.out;
  EXPECT_EQ(qvtest::runQvctl({"replay", "--webdriver", url, "--capabilities", "[1]", again.string()}).status, 2);
  EXPECT_EQ(qvtest::runQvctl({"replay", "--jobs", "2", again.string()}).status, 2);

  driver.stop();
  std::filesystem::remove_all(work);
}

}  // namespace
