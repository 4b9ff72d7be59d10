// A device farm as a team runs a suite on it: scripts/farm.sh starts two devices
// (sample applications in network namespaces of their own, each behind its
// qvdriver) under one Selenium Grid hub; six recordings, one failing on purpose,
// are played through the hub two at a time; the JUnit report holds every
// recording, both devices served sessions, and once the farm is stopped nothing
// it started is left running.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app_process.h"
#include "node_clients.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using json = nlohmann::json;

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every process descending from `root`, from /proc.
std::set<pid_t> descendants(pid_t root) {
  std::map<pid_t, pid_t> parents;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readAll(entry.path() / "stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state;
    pid_t parent = 0;
    fields >> state >> parent;
    parents[std::stoi(name)] = parent;
  }
  std::set<pid_t> found{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, parent] : parents) {
      if (found.contains(parent) && found.insert(pid).second) grew = true;
    }
  }
  found.erase(root);
  return found;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(FarmTest, ASuiteRunsOnTwoDevicesThroughTheHubAndTheFarmLeavesNothingBehind) {
  if (qvtest::runChild({"unshare", "--net", "true"}).status != 0) {
    GTEST_SKIP() << "this machine cannot make network namespaces for the devices";
  }
  const auto work = std::filesystem::temp_directory_path() / ("qv-farm-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work / "suite");
  std::vector<std::string> suite;
  for (int k = 1; k <= 6; ++k) {
    const std::string user = "user" + std::to_string(k);
    // The fourth recording expects another greeting than the application shows.
    const std::string expected = k == 4 ? "Welcome, somebody" : "Welcome, " + user;
    const auto path = work / "suite" / ("login" + std::to_string(k) + ".jsonl");
    std::ofstream(path)
        << json::array({{{"action", "TypeTextOnEditBox"},
                         {"arguments", json::array({{{"className", "UITextField"}, {"elementText", "User name"}},
                                                    {{"data", user}}})}}})
               .dump()
        << "\n"
        << json::array({{{"action", "ClickButton"},
                         {"arguments", json::array({{{"className", "UIButton"}, {"elementText", "Log In"}},
                                                    json::object()})}}})
               .dump()
        << "\n"
        << json{{"assert", "text"},
                {"target", {{"className", "UILabel"}, {"elementText", "Welcome, " + user}}},
                {"expected", expected}}
               .dump()
        << "\n";
    suite.push_back(path.string());
  }
  const std::string report = (work / "report.xml").string();

  pid_t farmPid = 0;
  std::set<pid_t> started;
  {
    qvtest::AppOptions farm;
    farm.program = (std::filesystem::path(std::getenv("QV_SOURCE_DIR")) / "scripts/farm.sh").string();
    farm.arguments = {"--devices", "2", "--build", qvtest::buildDir().string(), "--jar", qvtest::seleniumJar(),
                      "--work", (work / "farm").string()};
    farm.readyLine = "farm ready: http://127.0.0.1:4444";
    farm.startTimeout = std::chrono::seconds(180);
    farm.stopSignal = SIGTERM;
    qvtest::AppProcess process(farm);
    ASSERT_TRUE(process.ready()) << process.output() << process.log();
    farmPid = process.pid();
    started = descendants(farmPid);
    // Two applications, two qvdrivers, the grid script, its hub and two nodes.
    EXPECT_GE(started.size(), 7u);

    std::vector<std::string> args{(qvtest::buildDir() / "bin/qvctl").string(), "replay", "--webdriver",
                                  "http://127.0.0.1:4444", "--jobs", "2", "--junit", report};
    args.insert(args.end(), suite.begin(), suite.end());
    qvtest::ChildRun run = qvtest::runChild(args, "", std::chrono::seconds(240));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(count(run.err, "3 of 3 steps passed"), 5u) << run.out << run.err;
    EXPECT_NE(run.err.find("login4: 2 of 3 steps passed"), std::string::npos) << run.err;

    qvtest::ChildRun read = qvtest::runChild({QV_PYTHON, QV_CHECK_JUNIT, report});
    ASSERT_EQ(read.status, 0) << read.out << read.err;
    const json cases = json::parse(read.out);
    EXPECT_EQ(cases["tests"], 6) << cases.dump();
    EXPECT_EQ(cases["failures"], 1);
    EXPECT_EQ(cases["cases"]["login1"], nullptr);
    EXPECT_EQ(cases["cases"]["login4"].get<std::string>().rfind(
                  "step 3 (line 3): assert text UILabel \"Welcome, user4\" reads \"Welcome, somebody\"", 0),
              0u)
        << cases.dump();

    // Both devices served sessions, each deleted after its recording.
    std::size_t sessions = 0;
    for (int device = 1; device <= 2; ++device) {
      const std::string log = readAll(work / "farm" / ("device-" + std::to_string(device)) / "qvdriver.log");
      const std::size_t made = count(log, "POST /session 200");
      EXPECT_GE(made, 1u) << "device " << device << " served no session:\n" << log;
      EXPECT_EQ(count(log, "DELETE /session/"), made) << log;
      sessions += made;
    }
    EXPECT_EQ(sessions, 6u);
  }
  // The farm stopped on SIGTERM: nothing it started runs any more.
  EXPECT_TRUE(qvtest::waitUntil(
      [&] {
        for (pid_t pid : started) {
          if (::kill(pid, 0) == 0) return false;
        }
        return true;
      },
      std::chrono::seconds(10)));
  for (pid_t pid : started) {
    EXPECT_NE(::kill(pid, 0), 0) << "process " << pid << " outlived the farm: " << readAll("/proc/" + std::to_string(pid) + "/cmdline");
  }
  if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove_all(work);
}

}  // namespace
