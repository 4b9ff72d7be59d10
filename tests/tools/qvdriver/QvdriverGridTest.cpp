// Selenium Grid 4 over two devices: each application in a network namespace of its
// own (the agent's ports are fixed) reached through a veth pair, each behind its own
// qvdriver, registered as relay nodes by start-grid.sh. Two Selenium sessions run
// at once through the hub, each on the device its "quorvel:host" names.
#include <gtest/gtest.h>

#include <memory>
#include <signal.h>

#include <set>
#include <sstream>

#include "app_process.h"
#include "driver_http.h"
#include "node_clients.h"
#include "qvctl_run.h"
#include "qvdriver/Server.h"
#include "wait.h"

namespace {

using json = nlohmann::json;

struct Device {
  std::unique_ptr<qvtest::AppProcess> app;
  std::string address;  // the application's side of the veth pair
  std::unique_ptr<qvdriver::Server> driver;
  std::string url;
};

// The application in a network namespace of its own, linked to this one by a veth
// pair on 10.231.N.0/30 (this side .1, the device .2).
Device startDevice(int n) {
  Device device;
  qvtest::AppOptions options;
  options.launcher = {"unshare", "--net"};
  device.app = std::make_unique<qvtest::AppProcess>(options);
  if (!device.app->ready()) return device;
  const std::string pid = std::to_string(device.app->pid());
  const std::string net = "10.231." + std::to_string(n) + ".";
  const std::string link = "qvdev" + std::to_string(n);
  qvtest::ChildRun setup = qvtest::runChild(
      {"sh", "-c",
       "set -e; ip link add " + link + " type veth peer name eth0 netns " + pid + "; ip addr add " + net + "1/30 dev " +
           link + "; ip link set " + link + " up; nsenter -t " + pid + " -n sh -c 'ip addr add " + net +
           "2/30 dev eth0 && ip link set eth0 up && ip link set lo up'"});
  EXPECT_EQ(setup.status, 0) << setup.err;
  device.address = net + "2";
  qvdriver::DriverOptions driverOptions;
  driverOptions.defaultDevice = device.address;
  device.driver = std::make_unique<qvdriver::Server>(driverOptions);
  device.url = "http://127.0.0.1:" + std::to_string(device.driver->bind("127.0.0.1", 0));
  device.driver->start();
  return device;
}

TEST(QvdriverGridTest, TwoSessionsOnTwoDevicesThroughTheHub) {
  if (qvtest::runChild({"unshare", "--net", "true"}).status != 0) {
    GTEST_SKIP() << "this machine cannot make network namespaces for the devices";
  }
  Device a = startDevice(1), b = startDevice(2);
  ASSERT_TRUE(a.driver && b.driver);

  // One grid start: a hub and a relay node per qvdriver, each node's slot naming
  // its device.
  qvtest::AppOptions grid;
  grid.program = (std::filesystem::path(std::getenv("QV_SOURCE_DIR")) / "tools/qvdriver/grid/start-grid.sh").string();
  grid.arguments = {"--jar", qvtest::seleniumJar(), a.url + "=" + a.address, b.url + "=" + b.address};
  grid.readyLine = "grid ready: http://127.0.0.1:4444";
  grid.startTimeout = std::chrono::seconds(120);
  grid.stopSignal = SIGTERM;
  qvtest::AppProcess hub(grid);
  ASSERT_TRUE(hub.ready()) << hub.log();

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

  json seen = qvtest::runClient("grid_flow.mjs", {"http://127.0.0.1:4444", a.address, b.address});
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
  for (const auto& [device, user] : {std::pair{&a, "alice"}, std::pair{&b, "bob"}}) {
    auto ids = qvtest::elementIds(qvtest::playback({"--host", device->address, "find", "partialtext", "Welcome", "UILabel"}));
    ASSERT_EQ(ids.size(), 1u) << device->address;
    EXPECT_EQ(qvtest::playback({"--host", device->address, "gettext", ids[0]}), qvtest::outputReply(std::string("Welcome, ") + user));
  }
}

}  // namespace
