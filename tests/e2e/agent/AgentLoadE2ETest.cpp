// The agent starts itself wherever its library is loaded: linked into the sample
// application, or preloaded into an application that knows nothing of it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app_process.h"
#include "loopback.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;

bool portAccepts(std::uint16_t port) {
  int fd = qvtest::connectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

// Milliseconds of the day at which each log line holding `text` was written (the
// log's time stamp "YYYY-MM-DD HH:MM:SS.mmm").
std::vector<long> lineTimes(const std::string& log, const std::string& text) {
  std::vector<long> times;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    start = end + 1;
    if (line.find(text) == std::string::npos || line.size() < 23) continue;
    int h, m, s, ms;
    if (std::sscanf(line.c_str() + 11, "%d:%d:%d.%d", &h, &m, &s, &ms) == 4) {
      times.push_back(((h * 60L + m) * 60 + s) * 1000 + ms);
    }
  }
  return times;
}

qvtest::AppOptions plainApp(bool withAgent, long keyAfterMs) {
  qvtest::AppOptions options;
  options.program = "plain-app";
  options.readyLine = "plain-app ready";
  if (withAgent) options.preload = {qvtest::agentLibrary()};
  options.environment["PLAIN_APP_KEY_AFTER_MS"] = std::to_string(keyAfterMs);
  return options;
}

TEST(AgentLoadE2ETest, TheSampleApplicationStartsTheAgentItLinks) {
  qvtest::AppProcess app;
  ASSERT_TRUE(app.ready()) << app.log();
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("Recorder server started on port 9892"); }, 10s))
      << app.log();
  // The load hooks, in their order, before the application's own start-up.
  std::string log = app.log();
  auto at = [&](const std::string& text) { return log.find(text); };
  ASSERT_NE(at("WINDOW IS LOADED UIWindow"), std::string::npos) << log;
  ASSERT_NE(at("Loading ZARVO IOS INSTRUMENTOR..."), std::string::npos) << log;
  EXPECT_LT(at("Recorder server started on port 9892"), at("WINDOW IS LOADED UIWindow"));
  EXPECT_LT(at("WINDOW IS LOADED UIWindow"), at("Loading ZARVO IOS INSTRUMENTOR..."));
  EXPECT_TRUE(portAccepts(9898));
  // Its window is key from launch on: the polling hook never misses it.
  const int nulls = app.logCount("WINDOW IS NULL");
  std::this_thread::sleep_for(1200ms);  // six polling periods, observed, not waited for
  EXPECT_EQ(app.logCount("WINDOW IS NULL"), nulls);
  EXPECT_TRUE(app.alive());
}

TEST(AgentLoadE2ETest, WithoutTheLibraryNothingListens) {
  qvtest::AppProcess app(plainApp(false, 0));
  ASSERT_TRUE(app.ready()) << app.log();
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("plain-app window is key"); }, 10s));
  EXPECT_FALSE(portAccepts(9892));
  EXPECT_FALSE(portAccepts(9898));
  EXPECT_FALSE(app.logContains("Loading ZARVO IOS INSTRUMENTOR..."));
}

TEST(AgentLoadE2ETest, PreloadedIntoAnyApplicationItPollsForTheKeyWindow) {
  qvtest::AppProcess app(plainApp(true, 1500));
  ASSERT_TRUE(app.ready()) << app.log();
  ASSERT_TRUE(qvtest::waitUntil([&] { return app.logContains("plain-app window is key"); }, 15s)) << app.log();
  ASSERT_TRUE(qvtest::waitUntil([&] { return portAccepts(9892); }, 5s));
  // Let a few more cycles pass with the window key.
  std::this_thread::sleep_for(1000ms);  // observation period
  std::string log = app.log();
  auto nulls = lineTimes(log, "WINDOW IS NULL");
  auto key = lineTimes(log, "plain-app window is key");
  ASSERT_EQ(key.size(), 1u);
  // While no window was key the hook said so on every cycle, never faster than one
  // cycle per 0.2 s; once the window was key it stopped (the cycle already running
  // when the window appeared may still report).
  ASSERT_GE(nulls.size(), 3u) << log;
  for (std::size_t i = 1; i < nulls.size(); ++i) EXPECT_GE(nulls[i] - nulls[i - 1], 195) << "line " << i;
  int afterKey = 0;
  for (long t : nulls) afterKey += t > key[0] ? 1 : 0;
  EXPECT_LE(afterKey, 1);
  double perSecond = 1000.0 * static_cast<double>(nulls.size() - 1) / static_cast<double>(nulls.back() - nulls.front());
  RecordProperty("window_is_null_per_second", std::to_string(perSecond));
  std::printf("\"WINDOW IS NULL\" %.2f times per second while no window was key\n", perSecond);
  EXPECT_LE(perSecond, 5.2);
}

}  // namespace
