// Figures of the web bridge, in one run, on one page of 100 and of 1,000 links:
//   - "findelements" by text through the agent (the playback handler's reply: the
//     page's variant, then the native interpreter), against chromedriver's find by
//     link text and by XPath on the same page in the same Chromium build (Debian's
//     chromium-driver over HTTP on 127.0.0.1): median, p99 and their ratio;
//   - what one polling cycle costs the main thread: injecting the page scripts into
//     a freshly loaded page, and collecting from an injected page (with nothing and
//     with one recorded step waiting).
// Prints figures only. Run inside a private network namespace (the agent's code
// and chromedriver both use loopback ports).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ChromeDriver.h"
#include "Goals.h"
#include "Stats.h"
#include "foundation/json.h"
#include "foundation/runloop.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/web/WebView.h"
#include "uikit/uikit.h"
#include "webkit/Browser.h"
#include "webkit/UIWebView.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

using bench::Stats;
using bench::stats;

Stats time(int count, const std::function<void()>& body) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    body();
    samples.push_back(ms(Clock::now() - start));
  }
  return stats(samples);
}

void print(const std::string& what, Stats s) {
  std::printf("    %-52s median %8.3f ms  p99 %8.3f ms\n", what.c_str(), s.median, s.p99);
}

// A page of `links` links "Item 0" ... and a button, written to a file.
std::string writePage(int links) {
  const fs::path path = fs::temp_directory_path() / ("qv-bench-page-" + std::to_string(links) + ".html");
  std::ofstream out(path);
  out << "<!doctype html><html><body><h1>Links</h1><ul>";
  for (int i = 0; i < links; ++i) out << "<li><a href=\"#\" id=\"a" << i << "\">Item " << i << "</a></li>";
  out << "</ul><button>Done</button></body></html>";
  return "file://" + path.string();
}

bool waitLoaded(const std::shared_ptr<UIWebView>& webView) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (webView->isLoading()) {
    if (Clock::now() > deadline) return false;
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false);
  }
  return true;
}

// Polling cycles until the page holds the scripts (one, unless its time ran out).
void injectScripts(const std::shared_ptr<WebView>& bridge, const std::shared_ptr<UIWebView>& webView) {
  for (int cycle = 0; cycle < 20 && !bridge->checkWebViewIsAlreadyHacked(webView); ++cycle) bridge->injectOrCollect();
}

std::size_t agentFind(const std::string& text) {
  JSONValue request = {{"functionname", "findelements"}, {"tagname", ""}, {"accessortype", "text"}, {"accessorvalue", text}};
  auto reply = ServerManager::playBackReplyForRequest(foundation::dataFromString(request.dump()));
  auto parsed = JSONValue::parse(reply.value_or("[]"), nullptr, false);
  return parsed.is_array() ? parsed.size() : 0;
}

}  // namespace

int main() {
  constexpr int kFinds = 200;
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  window->makeKeyAndVisible();
  auto webView = std::make_shared<UIWebView>(CGRectMake(0, 0, 390, 700));
  window->addSubview(webView);
  bench::ChromeDriver driver("390,700");
  if (!driver.ready()) std::printf("chromedriver could not start a session: its figures are left out\n");
  auto bridge = std::make_shared<WebView>();
  bench::Goals goals;

  for (int links : {100, 1000}) {
    const std::string page = writePage(links);
    webView->loadRequest(*NSURL::URLWithString(page));
    if (!waitLoaded(webView) || !webkit::Browser::shared()) {
      std::printf("no browser: nothing to measure\n");
      return 0;
    }
    injectScripts(bridge, webView);
    const std::string target = "Item " + std::to_string(links / 2);
    std::printf("page of %d links, finding \"%s\" (%d finds each)\n", links, target.c_str(), kFinds);
    std::printf("    found: agent %zu", agentFind(target));
    Stats agent = time(kFinds, [&] { agentFind(target); });
    Stats byLinkText, byXpath;
    if (driver.ready()) {
      driver.open(page);
      std::printf(", chromedriver link text %zu, xpath %zu", driver.find("link text", target),
                  driver.find("xpath", "//a[text()='" + target + "']"));
      byLinkText = time(kFinds, [&] { driver.find("link text", target); });
      byXpath = time(kFinds, [&] { driver.find("xpath", "//a[text()='" + target + "']"); });
    }
    std::printf("\n");
    print("agent findelements by text (page and native)", agent);
    if (driver.ready()) {
      print("chromedriver find by link text", byLinkText);
      print("chromedriver find by XPath", byXpath);
      std::printf("    ratio agent / chromedriver link text: median %.2f  p99 %.2f\n", agent.median / byLinkText.median,
                  agent.p99 / byLinkText.p99);
      std::printf("    ratio agent / chromedriver XPath:     median %.2f  p99 %.2f\n", agent.median / byXpath.median,
                  agent.p99 / byXpath.p99);
      goals.atMost("web find by text / chromedriver find by XPath, " + std::to_string(links) + " links",
                   agent.median / byXpath.median, 0.33, "x", "same page, same run (medians)");
    }
  }

  // Main-thread cost of the polling cycle's web work.
  std::printf("polling cycle on the main thread (page of 1000 links, scripts from file://)\n");
  const std::string page = writePage(1000);
  std::vector<double> injections;
  for (int i = 0; i < 20; ++i) {
    webView->loadRequest(*NSURL::URLWithString(page));
    waitLoaded(webView);
    auto start = Clock::now();
    injectScripts(bridge, webView);
    injections.push_back(ms(Clock::now() - start));
  }
  print("injection of the seven scripts (20 loads)", stats(injections));
  print("collection, nothing recorded (200 cycles)", time(200, [&] { bridge->injectOrCollect(); }));
  std::vector<double> withStep;
  for (int i = 0; i < 100; ++i) {
    webView->stringByEvaluatingJavaScriptFromString("document.getElementById('a1').click()");
    auto start = Clock::now();
    bridge->injectOrCollect();
    withStep.push_back(ms(Clock::now() - start));
    GlobalVars::sharedInstance()->take_hybridRecordedSteps();
  }
  print("collection of one recorded step (100 cycles)", stats(withStep));
  goals.print();
  return 0;
}
