// The studio's refresh cost, with its page open in headless Chromium beside the
// sample application:
//   - a device change to the page showing it: the "Remember me" switch tapped
//     through the device input (from its answer, the change made) to the load of
//     the page's screen image that shows it;
//   - a recorded step: from its arrival at the studio on the recorder connection to
//     the page listing it, and from the tap to the page listing it (this one
//     includes the agent's sending of steps once a second).
// Times come from the page's own clock (Date.now) and the studio's, both the
// system clock. Median and p99 over N taps (argument, default 30). Figures only;
// without Chromium or chromedriver it says so and measures nothing. Run inside a
// private network namespace (agent ports, chromedriver and the studio on loopback).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ChromeDriver.h"
#include "Stats.h"
#include "app_process.h"
#include "device_tree.h"
#include "line_client.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;

using bench::Stats;
using bench::stats;

double nowMs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

void print(const char* what, const std::vector<double>& samples) {
  const Stats s = stats(samples);
  std::printf("  %-58s median %8.1f ms   p99 %8.1f ms\n", what, s.median, s.p99);
}

// The value of a page expression once `done` holds for it; null at the deadline.
nlohmann::json waitInPage(bench::ChromeDriver& driver, const std::string& expression,
                          const std::function<bool(const nlohmann::json&)>& done,
                          std::chrono::milliseconds deadline = 20s) {
  nlohmann::json value;
  qvtest::waitUntil([&] { return done(value = driver.script("return " + expression + ";")); }, deadline);
  return done(value) ? value : nlohmann::json();
}

}  // namespace

int main(int argc, char** argv) {
  const int taps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  if (!bench::ChromeDriver::installed()) {
    std::printf("studio_bench: Chromium or chromedriver is missing (scripts/deps.sh installs them): nothing measured\n");
    return 0;
  }
  if (!std::getenv("QV_BUILD_DIR")) ::setenv("QV_BUILD_DIR", QV_DEFAULT_BUILD_DIR, 1);
  qvtest::AppProcess app;
  if (!app.ready()) {
    std::fprintf(stderr, "studio_bench: the application did not start\n%s", app.log().c_str());
    return 1;
  }
  qvtest::AppOptions studioOptions;
  studioOptions.program = "qvstudio";
  studioOptions.arguments = {"--listen", "127.0.0.1:0", "--device-port", std::to_string(app.port())};
  studioOptions.readyLine = "qvstudio ready";
  qvtest::AppProcess studio(studioOptions);
  const std::string out = studio.output();
  const auto at = out.find("http://");
  if (!studio.ready() || at == std::string::npos) {
    std::fprintf(stderr, "studio_bench: the studio did not start\n%s", studio.log().c_str());
    return 1;
  }
  bench::ChromeDriver driver("1280,1000");
  if (!driver.ready()) {
    std::printf("studio_bench: chromedriver could not start a session: nothing measured\n");
    return 0;
  }
  driver.open(out.substr(at, out.find(' ', at) - at));
  const auto isTrue = [](const nlohmann::json& v) { return v == true; };
  if (waitInPage(driver,
                 "document.getElementById('recorder-status').classList.contains('recording') && "
                 "document.getElementById('screen-image').naturalWidth > 0",
                 isTrue)
          .is_null()) {
    std::fprintf(stderr, "studio_bench: the page never showed the screen and a recording session\n");
    return 1;
  }

  qvtest::LineClient device(app.port());
  auto views = qvtest::parseTree(device.tree().value_or(std::vector<std::string>{}));
  auto toggle = qvtest::findTreeView(views, "rememberSwitch");
  if (!toggle) {
    std::fprintf(stderr, "studio_bench: no \"Remember me\" switch on the screen\n");
    return 1;
  }
  const std::string tap = "tap " + std::to_string(toggle->middle().x) + " " + std::to_string(toggle->middle().y);

  std::vector<double> screen, arrivalToList, tapToList;
  const auto number = [](const nlohmann::json& v) { return v.is_number(); };
  for (int i = 0; i < taps; ++i) {
    const double shownBefore =
        waitInPage(driver, "Number(document.getElementById('screen-image').dataset.shownAt || 0)", number);
    if (device.ask(tap).rfind("ok", 0) != 0) {
      std::fprintf(stderr, "studio_bench: the device refused \"%s\"\n", tap.c_str());
      return 1;
    }
    const double changed = nowMs();
    const auto shown = waitInPage(
        driver, "Number(document.getElementById('screen-image').dataset.shownAt || 0)",
        [&](const nlohmann::json& v) { return v.is_number() && v.get<double>() > shownBefore && v.get<double>() >= changed; });
    const auto listed = waitInPage(
        driver,
        "(() => { const li = document.querySelectorAll('#steps li')[" + std::to_string(i) +
            "]; return li ? [Number(li.dataset.receivedAt), Number(li.dataset.listedAt)] : null; })()",
        [](const nlohmann::json& v) { return v.is_array(); });
    if (shown.is_null() || listed.is_null()) {
      std::fprintf(stderr, "studio_bench: tap %d never showed on the page (screen %s, step %s)\n", i + 1,
                   shown.dump().c_str(), listed.dump().c_str());
      return 1;
    }
    screen.push_back(shown.get<double>() - changed);
    arrivalToList.push_back(listed[1].get<double>() - listed[0].get<double>());
    tapToList.push_back(listed[1].get<double>() - changed);
  }
  std::printf("The studio page in headless Chromium, %d taps on a switch of the sample application:\n", taps);
  print("device change to the page showing it", screen);
  print("step arrival at the studio to the page listing it", arrivalToList);
  print("tap to the page listing its step (agent sends once a second)", tapToList);
  return 0;
}
