// The sample application (build/bin/sample-app) as a child process: started with
// the device input on a free port named in a file (or on a given port), ready once
// it prints "sample-app ready", killed when the object goes away.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"

extern char** environ;

namespace sampletest {

class SampleProcess {
 public:
  explicit SampleProcess(int devicePort = 0, std::chrono::milliseconds startTimeout = std::chrono::seconds(20)) {
    const char* build = std::getenv("QV_BUILD_DIR");
    std::string app = (std::filesystem::path(build ? build : "build") / "bin" / "sample-app").string();
    portFile_ = std::filesystem::temp_directory_path() / ("qv-sample-port-" + std::to_string(::getpid()) + "-" +
                                                          std::to_string(serial()++));
    std::filesystem::remove(portFile_);

    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("QUORVEL_DEVICE_PORT", 0) != 0) environment.push_back(entry);
    }
    environment.push_back("QUORVEL_DEVICE_PORT=" + std::to_string(devicePort));
    environment.push_back("QUORVEL_DEVICE_PORT_FILE=" + portFile_.string());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {app.data(), nullptr};

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    auto started = std::chrono::steady_clock::now();
    int rc = ::posix_spawn(&pid_, app.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    outFd_ = out[0];
    reader_ = std::thread([this, started] {
      char buffer[1024];
      ssize_t n;
      while ((n = ::read(outFd_, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(n));
        if (readyAfter_.count() == 0 && output_.find("sample-app ready\n") != std::string::npos) {
          readyAfter_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        }
      }
    });
    qvtest::waitUntil([this] { return startupTime().count() > 0 || !alive(); }, startTimeout);
    ready_ = startupTime().count() > 0;
    if (ready_) {
      std::ifstream in(portFile_);
      in >> port_;
    }
  }

  ~SampleProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (outFd_ >= 0) ::close(outFd_);
    std::error_code ignored;
    std::filesystem::remove(portFile_, ignored);
  }

  SampleProcess(const SampleProcess&) = delete;
  SampleProcess& operator=(const SampleProcess&) = delete;

  bool ready() const { return ready_; }
  int port() const { return port_; }
  // From the start of the process to its "sample-app ready" line (0 before).
  std::chrono::milliseconds startupTime() const {
    std::lock_guard lock(mutex_);
    return readyAfter_;
  }
  // True while the process has not ended.
  bool alive() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {  // ended and reaped
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return pid_ > 0;
  }
  // The exit status once alive() saw the process end (-1 for a signal or before).
  int exitStatus() const { return exitStatus_; }

 private:
  static int& serial() {
    static int n = 0;
    return n;
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  int port_ = 0;
  int exitStatus_ = -1;
  bool ready_ = false;
  std::filesystem::path portFile_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string output_;
  std::chrono::milliseconds readyAfter_{0};
};

}  // namespace sampletest
