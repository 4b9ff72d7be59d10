// Find + get-text round trips against the sample application with the agent
// loaded: sent directly with the qvctl client library over one playback
// connection, and as WebDriver's Find Element and Get Element Text through qvdriver
// over HTTP. Prints the median and p99 of each pair of commands and the ratio of
// the medians. Figures only. The optional argument is the number of pairs.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Goals.h"
#include "Stats.h"
#include "app_process.h"
#include "qvctl/Connection.h"
#include "qvctl/Request.h"
#include "qvdriver/Server.h"

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

using bench::Stats;
using bench::stats;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The failure of a pair whose answer is not the label's text.
void expectText(const std::string& text) {
  if (text != "Not signed in") throw std::runtime_error("unexpected text " + text);
}

std::vector<double> direct(int count) {
  qvctl::Connection connection("127.0.0.1", qvctl::kPlayBackPort, std::chrono::seconds(10));
  qvctl::Request find{"findelements", "accessibilityid", "outcomeLabel", "", {}, {}, {}};
  std::vector<double> samples;
  for (int i = 0; i <= count; ++i) {
    const auto start = Clock::now();
    auto found = json::parse(qvctl::playRequest(connection, qvctl::buildRequest(find), start + std::chrono::seconds(30)));
    qvctl::Request text{"gettext", {}, found.at(0).at("elementID").get<std::string>(), {}, {}, {}, {}};
    auto reply = json::parse(qvctl::playRequest(connection, qvctl::buildRequest(text), start + std::chrono::seconds(30)));
    if (i > 0) samples.push_back(millisecondsSince(start));  // the first pair warms up
    expectText(reply.at(0).at("output"));
  }
  return samples;
}

std::vector<double> throughDriver(int count) {
  qvdriver::Server server;
  const int port = server.bind("127.0.0.1", 0);
  server.start();
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  auto post = [&](const std::string& path, const json& body) {
    auto result = client.Post(path, body.dump(), "application/json; charset=utf-8");
    if (!result || result->status != 200) throw std::runtime_error("POST " + path + " failed");
    return json::parse(result->body)["value"];
  };
  // The agent listens again a second after the direct client left; the new session waits for that.
  const std::string session =
      "/session/" + post("/session", {{"capabilities", {{"alwaysMatch", {{"platformName", "quorvel"}}}}}})["sessionId"].get<std::string>();
  std::vector<double> samples;
  for (int i = 0; i <= count; ++i) {
    const auto start = Clock::now();
    auto element = post(session + "/element", {{"using", "accessibility id"}, {"value", "outcomeLabel"}});
    auto text = client.Get(session + "/element/" + element.begin().value().get<std::string>() + "/text");
    if (!text || text->status != 200) throw std::runtime_error("Get Element Text failed");
    if (i > 0) samples.push_back(millisecondsSince(start));
    expectText(json::parse(text->body)["value"]);
  }
  client.Delete(session);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);
  qvtest::AppProcess app;
  if (!app.ready()) {
    std::fprintf(stderr, "qvdriver_bench: the application did not start\n");
    return 1;
  }
  try {
    const Stats qvctl = stats(direct(count));
    const Stats driver = stats(throughDriver(count));
    std::printf("Find (accessibility id) + get text of one label, %d pairs each:\n", count);
    std::printf("  %-40s median %8.3f ms   p99 %8.3f ms\n", "qvctl library, one playback connection", qvctl.median, qvctl.p99);
    std::printf("  %-40s median %8.3f ms   p99 %8.3f ms\n", "WebDriver through qvdriver (HTTP)", driver.median, driver.p99);
    std::printf("  ratio of the medians (qvdriver / qvctl)  %.2f\n", driver.median / qvctl.median);
    bench::Goals goals;
    goals.atMost("qvdriver / qvctl, find + get text, same run (medians)", driver.median / qvctl.median, 1.5, "x");
    goals.print();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvdriver_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
