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
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/json.h"
#include "foundation/runloop.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/web/WebView.h"
#include "uikit/uikit.h"
#include "webkit/Browser.h"
#include "webkit/UIWebView.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double median = 0, p99 = 0;
};

Stats stats(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))]; };
  return {at(0.5), at(0.99)};
}

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

// chromedriver over the W3C protocol, with libcurl.
class ChromeDriver {
 public:
  ChromeDriver() {
    port_ = 9515 + static_cast<int>(::getpid() % 1000);
    std::string portArg = "--port=" + std::to_string(port_);
    char* argv[] = {const_cast<char*>("/usr/bin/chromedriver"), portArg.data(), const_cast<char*>("--silent"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    curl_ = curl_easy_init();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && Clock::now() < deadline && !request("GET", "/status", std::nullopt)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    JSONValue capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions",
             {{"binary", "/usr/lib/chromium/chromium"},
              {"args", {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--window-size=390,700"}}}}}}}}};
    if (auto reply = request("POST", "/session", capabilities)) session_ = (*reply)["value"].value("sessionId", "");
  }
  ~ChromeDriver() {
    if (!session_.empty()) request("DELETE", "/session/" + session_, std::nullopt);
    if (curl_) curl_easy_cleanup(curl_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
  }
  bool ready() const { return !session_.empty(); }
  void open(const std::string& url) { request("POST", "/session/" + session_ + "/url", JSONValue{{"url", url}}); }
  // The number of elements found.
  std::size_t find(const std::string& strategy, const std::string& value) {
    auto reply = request("POST", "/session/" + session_ + "/elements", JSONValue{{"using", strategy}, {"value", value}});
    return reply && (*reply)["value"].is_array() ? (*reply)["value"].size() : 0;
  }

 private:
  static size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  }
  std::optional<JSONValue> request(const std::string& method, const std::string& path, const std::optional<JSONValue>& body) {
    std::string response, text = body ? body->dump() : std::string();
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + path;
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 60L);
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    if (body) curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, text.c_str());
    const CURLcode code = curl_easy_perform(curl_);
    curl_slist_free_all(headers);
    if (code != CURLE_OK) return std::nullopt;
    auto parsed = JSONValue::parse(response, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  CURL* curl_ = nullptr;
  std::string session_;
};

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
  ChromeDriver driver;
  if (!driver.ready()) std::printf("chromedriver could not start a session: its figures are left out\n");
  auto bridge = std::make_shared<WebView>();

  for (int links : {100, 1000}) {
    const std::string page = writePage(links);
    webView->loadRequest(*NSURL::URLWithString(page));
    if (!waitLoaded(webView) || !webkit::Browser::shared()) {
      std::printf("no browser: nothing to measure\n");
      return 0;
    }
    bridge->injectOrCollect();
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
    bridge->injectOrCollect();
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
  return 0;
}
