// Runs the sample application (build/bin/sample-app) with the agent loaded
// (LD_PRELOAD of libQuorvel.so) as a child process for end-to-end tests and
// benchmarks. Its log goes to a file that callers can read; it is killed when the
// object goes away.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"

extern char** environ;

namespace qvtest {

class AgentProcess {
 public:
  // `extraPreload`: one more library preloaded after the agent.
  explicit AgentProcess(const std::string& extraPreload = "",
                        std::chrono::milliseconds startTimeout = std::chrono::seconds(30)) {
    const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
    const std::filesystem::path app = build / "bin" / "sample-app";
    const std::string agent = (build / "lib" / "libQuorvel.so").string();
    logPath_ = std::filesystem::temp_directory_path() / ("qv-agent-" + std::to_string(::getpid()) + "-" +
                                                         std::to_string(counter()++) + ".log");

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      auto eq = entry.find('=');
      env[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    env["LD_PRELOAD"] = extraPreload.empty() ? agent : agent + ":" + extraPreload;
    env["QUORVEL_LOG"] = "on";
    env["QUORVEL_DEVICE_PORT"] = "0";
    // A sanitised agent is preloaded ahead of the sanitiser's runtime.
    env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"] + (env["ASAN_OPTIONS"].empty() ? "" : ":") + "verify_asan_link_order=0";
    std::vector<std::string> environment;
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string appPath = app.string();
    char* argv[] = {appPath.data(), nullptr};

    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return;
    int logFd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    if (logFd >= 0) posix_spawn_file_actions_adddup2(&actions, logFd, STDERR_FILENO);
    int rc = ::posix_spawn(&pid_, appPath.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    if (logFd >= 0) ::close(logFd);
    if (rc != 0) {
      pid_ = -1;
      ::close(outPipe[0]);
      return;
    }
    outFd_ = outPipe[0];
    reader_ = std::thread([this] {
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(outFd_, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
          if (errno == EINTR) continue;
          break;
        }
        std::lock_guard lock(mutex_);
        out_.append(buffer, static_cast<std::size_t>(n));
      }
    });
    ready_ = waitUntil(
        [this] {
          std::lock_guard lock(mutex_);
          return out_.find("sample-app ready") != std::string::npos;
        },
        startTimeout);
  }

  ~AgentProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (outFd_ >= 0) ::close(outFd_);
    std::error_code ignored;
    if (!std::getenv("QV_KEEP_AGENT_LOGS")) std::filesystem::remove(logPath_, ignored);
  }

  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  bool ready() const { return ready_; }
  int pid() const { return pid_; }

  // True while the child has neither exited nor been killed.
  bool alive() {
    if (pid_ <= 0 || exited_) return false;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      exitStatus_ = status;
      return false;
    }
    return true;
  }

  // Everything the agent and the application logged so far.
  std::string log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  bool logContains(const std::string& text) const { return log().find(text) != std::string::npos; }
  const std::filesystem::path& logPath() const { return logPath_; }

 private:
  static std::atomic<int>& counter() {
    static std::atomic<int> value{0};
    return value;
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  bool ready_ = false;
  bool exited_ = false;
  int exitStatus_ = 0;
  std::filesystem::path logPath_;
  std::thread reader_;
  std::mutex mutex_;
  std::string out_;
};

}  // namespace qvtest
