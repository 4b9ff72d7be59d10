// The floor of the control channel: the round trip of a playback request that the
// interpreter answers with nothing ("[]"), from the qvctl client library to the
// sample application with the agent loaded and back, over one connection. Prints the
// median, the 99th percentile and the mean. Figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_process.h"
#include "qvctl/Connection.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const int requests = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);

  qvtest::AppProcess app;
  if (!app.ready()) {
    std::fprintf(stderr, "channel_bench: the application did not start\n");
    return 1;
  }
  try {
    qvctl::Connection connection("127.0.0.1", qvctl::kPlayBackPort, std::chrono::seconds(10));
    const std::string request = R"({"functionname":"nosuchcommand"})";
    for (int i = 0; i < 100; ++i) qvctl::playRequest(connection, request, Clock::now() + std::chrono::seconds(10));

    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(requests));
    for (int i = 0; i < requests; ++i) {
      const auto start = Clock::now();
      std::string reply = qvctl::playRequest(connection, request, start + std::chrono::seconds(10));
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      if (reply != "[]") {
        std::fprintf(stderr, "channel_bench: unexpected reply %s\n", reply.c_str());
        return 1;
      }
    }
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) sum += m;
    auto at = [&](double q) { return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))]; };
    std::printf("playback round trip, unknown command, %d requests on one connection:\n", requests);
    std::printf("  median %.1f us   p99 %.1f us   mean %.1f us   max %.1f us\n", at(0.5), at(0.99),
                sum / static_cast<double>(micros.size()), micros.back());
  } catch (const qvctl::Error& e) {
    std::fprintf(stderr, "channel_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
