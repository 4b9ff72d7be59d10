// Headless Chromium for the benchmarks: Debian's chromedriver started on a loopback
// port and one session over the W3C WebDriver protocol (libcurl), with this
// machine's Chromium flags. Run inside a private network namespace like the rest.
#pragma once

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

extern char** environ;

namespace bench {

class ChromeDriver {
 public:
  static constexpr const char* kDriver = "/usr/bin/chromedriver";
  static constexpr const char* kBrowser = "/usr/lib/chromium/chromium";

  // Both programs are there (scripts/deps.sh installs them).
  static bool installed() { return std::filesystem::exists(kDriver) && std::filesystem::exists(kBrowser); }

  // `windowSize` is Chromium's "--window-size" value, e.g. "390,700".
  explicit ChromeDriver(const std::string& windowSize) {
    port_ = 9515 + static_cast<int>(::getpid() % 1000);
    std::string portArg = "--port=" + std::to_string(port_);
    char* argv[] = {const_cast<char*>(kDriver), portArg.data(), const_cast<char*>("--silent"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    curl_ = curl_easy_init();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline && !request("GET", "/status", std::nullopt)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    profile_ = std::filesystem::temp_directory_path() / ("qv-bench-chromium-" + std::to_string(::getpid()));
    nlohmann::json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions",
             {{"binary", kBrowser},
              {"args", {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--user-data-dir=" + profile_.string(), "--window-size=" + windowSize}}}}}}}}};
    if (auto reply = request("POST", "/session", capabilities)) {
      session_ = (*reply)["value"].value("sessionId", "");
    }
  }
  ~ChromeDriver() {
    if (!session_.empty()) request("DELETE", "/session/" + session_, std::nullopt);
    if (curl_) curl_easy_cleanup(curl_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
  }
  ChromeDriver(const ChromeDriver&) = delete;
  ChromeDriver& operator=(const ChromeDriver&) = delete;

  bool ready() const { return !session_.empty(); }
  void open(const std::string& url) { request("POST", "/session/" + session_ + "/url", nlohmann::json{{"url", url}}); }
  // The number of elements found.
  std::size_t find(const std::string& strategy, const std::string& value) {
    auto reply = request("POST", "/session/" + session_ + "/elements", nlohmann::json{{"using", strategy}, {"value", value}});
    return reply && (*reply)["value"].is_array() ? (*reply)["value"].size() : 0;
  }
  // What the script (a function body) returns in the page; null when it failed.
  nlohmann::json script(const std::string& body) {
    auto reply = request("POST", "/session/" + session_ + "/execute/sync",
                         nlohmann::json{{"script", body}, {"args", nlohmann::json::array()}});
    return reply ? (*reply)["value"] : nlohmann::json();
  }

 private:
  static size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  }
  std::optional<nlohmann::json> request(const std::string& method, const std::string& path,
                                        const std::optional<nlohmann::json>& body) {
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
    auto parsed = nlohmann::json::parse(response, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  CURL* curl_ = nullptr;
  std::string session_;
  std::filesystem::path profile_;
};

}  // namespace bench
