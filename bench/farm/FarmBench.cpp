// A suite of eight recordings (a login each, typed, clicked and checked) played
// through the hub of a device farm with one job per device: the wall time on 1 and
// on 2 devices (and 4 where the machine has the cores), and the ratio to one
// device. Each farm first plays two recordings untimed, so that the hub's start-up
// work is not counted. Figures only; without Java or the Selenium Server jar it
// says so and measures nothing.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app_process.h"
#include "node_clients.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::vector<std::string> writeSuite(const std::filesystem::path& dir, int size) {
  std::filesystem::create_directories(dir);
  std::vector<std::string> files;
  for (int k = 1; k <= size; ++k) {
    const std::string user = "user" + std::to_string(k);
    const auto path = dir / ("login" + std::to_string(k) + ".jsonl");
    std::ofstream out(path);
    out << json::array({{{"action", "TypeTextOnEditBox"},
                         {"arguments", json::array({{{"className", "UITextField"}, {"elementText", "User name"}},
                                                    {{"data", user}}})}}})
               .dump()
        << "\n"
        << json::array({{{"action", "ClickButton"},
                         {"arguments",
                          json::array({{{"className", "UIButton"}, {"elementText", "Log In"}}, json::object()})}}})
               .dump()
        << "\n"
        << json{{"assert", "text"},
                {"target", {{"className", "UILabel"}, {"elementText", "Welcome, " + user}}},
                {"expected", "Welcome, " + user}}
               .dump()
        << "\n";
    files.push_back(path.string());
  }
  return files;
}

// qvctl replay of `files` through the hub, `jobs` at once: the seconds it took, or
// a negative number when a recording failed.
double playSuite(const std::vector<std::string>& files, int jobs) {
  std::vector<std::string> args{(qvtest::buildDir() / "bin/qvctl").string(), "replay", "--webdriver",
                                "http://127.0.0.1:4444", "--jobs", std::to_string(jobs)};
  args.insert(args.end(), files.begin(), files.end());
  const auto started = Clock::now();
  qvtest::ChildRun run = qvtest::runChild(args, "", std::chrono::minutes(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (run.status != 0) {
    std::fprintf(stderr, "the suite failed:\n%s%s", run.out.c_str(), run.err.c_str());
    return -1;
  }
  return seconds;
}

}  // namespace

int main() {
  const std::string jar = qvtest::seleniumJar();
  if (qvtest::runChild({"java", "-version"}).status != 0 || jar.empty()) {
    std::printf("farm_bench: needs Java and the Selenium Server jar (ctest -R npm_install); nothing measured\n");
    return 0;
  }
  const auto work = std::filesystem::temp_directory_path() / ("qv-farm-bench-" + std::to_string(::getpid()));
  const auto suite = writeSuite(work / "suite", 8);
  const auto warmUp = writeSuite(work / "warm-up", 2);
  std::vector<int> sizes{1, 2};
  if (std::thread::hardware_concurrency() >= 4) sizes.push_back(4);
  double single = 0;
  for (int devices : sizes) {
    qvtest::AppOptions farm;
    farm.program = QV_FARM_SCRIPT;
    farm.arguments = {"--devices", std::to_string(devices), "--build", qvtest::buildDir().string(), "--jar", jar,
                      "--work", (work / ("farm-" + std::to_string(devices))).string()};
    farm.readyLine = "farm ready: http://127.0.0.1:4444";
    farm.startTimeout = std::chrono::minutes(3);
    farm.stopSignal = SIGTERM;
    qvtest::AppProcess process(farm);
    if (!process.ready()) {
      std::printf("farm_bench: a farm of %d devices did not start:\n%s\n", devices, process.log().c_str());
      break;
    }
    playSuite(warmUp, devices);
    const double seconds = playSuite(suite, devices);
    if (seconds < 0) break;
    if (devices == 1) single = seconds;
    std::printf("8 recordings on %d device%s (--jobs %d): %.2f s wall, %.2fx the speed of one device\n", devices,
                devices == 1 ? "" : "s", devices, seconds, single / seconds);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(work);
  return 0;
}
