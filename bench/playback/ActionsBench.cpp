// The round trip of the two highlighted actions, "clickelement" on the sample
// application's "Log In" button and "sendkeysonelement" on its user-name field, from
// the qvctl client library to the application with the agent loaded and back, over
// one playback connection. Both hold the application's main thread for a fixed
// settle wait of 0.5 s after acting, which clients rely on; it is reported apart:
//   - the round trip itself (median, p99);
//   - the agent's own time, the round trip less the nominal settle wait;
//   - "clickelement" with an element ID the agent does not know, which acts on
//     nothing and only waits: what the wait costs on this machine.
// Figures only. The optional argument is the number of requests per figure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "app_process.h"
#include "quorvel/playback/UIViewFinder.h"
#include "qvctl/Connection.h"

namespace {

using bench::Clock;

constexpr double kSettleMs = UIViewFinder::kActionSettleMicroseconds / 1000.0;

void print(const char* what, const std::vector<double>& samples) {
  auto s = bench::stats(samples);
  std::printf("  %-56s median %9.3f ms   p99 %9.3f ms\n", what, s.median, s.p99);
}

std::string request(const std::string& function, const std::string& value, const std::string& data = "") {
  std::string json = R"({"functionname":")" + function + R"(","accessorvalue":")" + value + "\"";
  if (!data.empty()) json += R"(,"datavalue":")" + data + "\"";
  return json + "}";
}

// The element ID of the one view a find names.
std::string findOne(qvctl::Connection& connection, const std::string& cls, const std::string& text) {
  std::string reply = qvctl::playRequest(
      connection,
      R"({"functionname":"findelements","tagname":")" + cls + R"(","accessortype":"text","accessorvalue":")" + text + "\"}",
      Clock::now() + std::chrono::seconds(30));
  const std::string key = "\"elementID\":\"";
  auto at = reply.find(key);
  if (at == std::string::npos) throw qvctl::Error("no " + cls + " \"" + text + "\": " + reply);
  at += key.size();
  return reply.substr(at, reply.find('"', at) - at);
}

// Round trips of one request, in milliseconds; every reply must be "[]".
std::vector<double> roundTrips(qvctl::Connection& connection, int count, const std::string& json) {
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    std::string reply = qvctl::playRequest(connection, json, start + std::chrono::seconds(30));
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (reply != "[]") throw qvctl::Error("unexpected reply " + reply);
  }
  return ms;
}

std::vector<double> lessSettle(std::vector<double> samples) {
  for (double& s : samples) s -= kSettleMs;
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);

  qvtest::AppProcess app;
  if (!app.ready()) {
    std::fprintf(stderr, "playback_actions_bench: the application did not start\n");
    return 1;
  }
  try {
    qvctl::Connection connection("127.0.0.1", qvctl::kPlayBackPort, std::chrono::seconds(10));
    std::printf("Highlighted actions through the playback port, %d requests each (settle wait %.0f ms):\n", count,
                kSettleMs);

    const std::string button = findOne(connection, "UIButton", "Log In");
    auto clicks = roundTrips(connection, count, request("clickelement", button));
    print("clickelement on a button, round trip", clicks);
    print("clickelement, agent's own time (less the settle)", lessSettle(clicks));

    const std::string field = findOne(connection, "UITextField", "User name");
    auto typing = roundTrips(connection, count, request("sendkeysonelement", field, "benchmark user"));
    print("sendkeysonelement on a text field, round trip", typing);
    print("sendkeysonelement, agent's own time (less the settle)", lessSettle(typing));

    auto waiting = roundTrips(connection, std::max(1, count / 3), request("clickelement", "NO-SUCH-ELEMENT"));
    print("clickelement on an unknown element ID (the wait alone)", waiting);
    print("  its time beyond the nominal settle", lessSettle(waiting));
  } catch (const qvctl::Error& e) {
    std::fprintf(stderr, "playback_actions_bench: %s\n", e.what());
    return 1;
  }
  if (!app.alive()) {
    std::fprintf(stderr, "playback_actions_bench: the application went away\n");
    return 1;
  }
  return 0;
}
