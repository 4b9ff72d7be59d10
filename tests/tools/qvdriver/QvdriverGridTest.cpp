// Selenium Grid 4 over two devices as scripts/farm.sh starts them: each application
// in a network namespace of its own (the agent's ports are fixed) reached through a
// veth pair, each behind its own qvdriver, registered as relay nodes by
// start-grid.sh. Two Selenium sessions run at once through the hub, each on the
// device its "quorvel:host" names.
#include <gtest/gtest.h>

#include <memory>
#include <signal.h>

#include <set>
#include <sstream>

#include "app_process.h"
#include "driver_http.h"
#include "node_clients.h"
#include "qvctl_run.h"
#include "wait.h"

namespace {

using json = nlohmann::json;

// The addresses scripts/farm.sh gives its devices.
constexpr const char* kDeviceA = "10.232.1.2";
constexpr const char* kDeviceB = "10.232.2.2";

TEST(QvdriverGridTest, TwoSessionsOnTwoDevicesThroughTheHub) {
  if (qvtest::runChild({"unshare", "--net", "true"}).status != 0) {
    GTEST_SKIP() << "this machine cannot make network namespaces for the devices";
  }
  // The farm: two applications in network namespaces of their own, each behind
  // its qvdriver, and one grid start (a hub and a relay node per qvdriver, each
  // node's slot naming its device).
  const auto work = std::filesystem::temp_directory_path() / ("qv-grid-" + std::to_string(::getpid()));
  qvtest::AppOptions farm;
  farm.program = (std::filesystem::path(std::getenv("QV_SOURCE_DIR")) / "scripts/farm.sh").string();
  farm.arguments = {"--devices", "2", "--build", qvtest::buildDir().string(), "--jar", qvtest::seleniumJar(),
                    "--work", work.string()};
  farm.readyLine = "farm ready: http://127.0.0.1:4444";
  farm.startTimeout = std::chrono::seconds(180);
  farm.stopSignal = SIGTERM;
  qvtest::AppProcess hub(farm);
  ASSERT_TRUE(hub.ready()) << hub.output() << hub.log();

  // Every port the grid's processes listen on (hub, event bus, nodes) is on
  // loopback.
  qvtest::ChildRun sockets = qvtest::runChild({"ss", "-H", "-l", "-n", "-t", "-p"});
  ASSERT_EQ(sockets.status, 0) << sockets.err;
  std::set<std::string> gridPorts;
  std::istringstream lines(sockets.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"java\"") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string state, received, sent, local;
    fields >> state >> received >> sent >> local;
    const std::string address = local.substr(0, local.rfind(':'));
    EXPECT_TRUE(address == "127.0.0.1" || address == "[::ffff:127.0.0.1]" || address == "[::1]") << line;
    gridPorts.insert(local.substr(local.rfind(':') + 1));
  }
  for (const char* port : {"4442", "4443", "4444", "5555", "5556"}) EXPECT_TRUE(gridPorts.contains(port)) << sockets.out;

  json seen = qvtest::runClient("grid_flow.mjs", {"http://127.0.0.1:4444", kDeviceA, kDeviceB});
  ASSERT_TRUE(seen.is_array() && seen.size() == 2) << seen;
  EXPECT_EQ(seen[0]["outcome"], "Welcome, alice");
  EXPECT_EQ(seen[1]["outcome"], "Welcome, bob");
  EXPECT_EQ(seen[0]["stale"], "StaleElementReferenceError");
  EXPECT_EQ(seen[1]["missing"], "NoSuchElementError");
  // Both sessions were open at the same time.
  EXPECT_LT(seen[0]["opened"].get<double>(), seen[1]["closed"].get<double>());
  EXPECT_LT(seen[1]["opened"].get<double>(), seen[0]["closed"].get<double>());

  // A device that no node serves: refused within the grid's stated 30 s.
  qvtest::DriverHttp hubClient(4444);
  const auto asked = std::chrono::steady_clock::now();
  const json unservedDevice = {{"platformName", "quorvel"}, {"quorvel:host", "10.231.9.2"}};
  qvtest::DriverReply unserved =
      hubClient.post("/session", {{"capabilities", {{"alwaysMatch", unservedDevice}}}});
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(31));
  EXPECT_EQ(unserved.error(), "session not created") << unserved.body.dump();

  // Each device shows its own user's outcome.
  for (const auto& [device, user] : {std::pair{kDeviceA, "alice"}, std::pair{kDeviceB, "bob"}}) {
    auto ids = qvtest::elementIds(qvtest::playback({"--host", device, "find", "partialtext", "Welcome", "UILabel"}));
    ASSERT_EQ(ids.size(), 1u) << device;
    EXPECT_EQ(qvtest::playback({"--host", device, "gettext", ids[0]}), qvtest::outputReply(std::string("Welcome, ") + user));
  }
  if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove_all(work);
}

}  // namespace
