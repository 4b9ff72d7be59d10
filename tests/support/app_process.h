// An application (build/bin/sample-app by default) as a child process for
// end-to-end tests and benchmarks: its device input on a free port named in a file,
// its log (standard error) in a file callers can read, its standard output as it
// comes, ready once it prints its ready line, killed when the object goes away.
// Standard input is empty, or a pipe that writeInput() feeds (as a person types
// into a desktop tool). A desktop tool runs the same way, with its arguments
// and no ready line. The sample application links the
// agent, so the agent runs in it; `preload` adds libraries with LD_PRELOAD (for
// applications that do not link the agent, or a second copy of it).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

inline std::filesystem::path buildDir() {
  const char* dir = std::getenv("QV_BUILD_DIR");
  return dir ? dir : "build";
}

inline std::string agentLibrary() { return (buildDir() / "lib" / "libQuorvel.so").string(); }

struct AppOptions {
  std::string program = "sample-app";    // a name under build/bin, or a path
  std::vector<std::string> arguments;
  std::vector<std::string> launcher;     // a command the program runs under ("unshare", "--net")
  std::string readyLine = "sample-app ready";  // empty: ready once started
  std::vector<std::string> preload;      // LD_PRELOAD entries
  int devicePort = 0;                    // 0: any free port, read from the port file
  std::map<std::string, std::string> environment;  // extra variables
  bool standardInput = false;            // true: a pipe for writeInput()
  std::chrono::milliseconds startTimeout = std::chrono::seconds(30);
  // How the process is stopped; anything but SIGKILL gets 10 seconds to end by
  // itself (a script that stops what it started) before SIGKILL.
  int stopSignal = SIGKILL;
};

class AppProcess {
 public:
  explicit AppProcess(AppOptions options = {}) {
    std::filesystem::path program = options.program;
    if (program.parent_path().empty()) program = buildDir() / "bin" / program;
    const std::string stem = "qv-app-" + std::to_string(::getpid()) + "-" + std::to_string(serial()++);
    logPath_ = std::filesystem::temp_directory_path() / (stem + ".log");
    portFile_ = std::filesystem::temp_directory_path() / (stem + ".port");
    std::filesystem::remove(portFile_);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      auto eq = entry.find('=');
      env[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    env["QUORVEL_LOG"] = "on";
    env["QUORVEL_DEVICE_PORT"] = std::to_string(options.devicePort);
    env["QUORVEL_DEVICE_PORT_FILE"] = portFile_.string();
    env.erase("LD_PRELOAD");
    if (!options.preload.empty()) {
      std::string list;
      for (const auto& lib : options.preload) list += (list.empty() ? "" : ":") + lib;
      env["LD_PRELOAD"] = list;
      // A sanitised library preloaded ahead of the sanitiser's runtime.
      env["ASAN_OPTIONS"] += (env["ASAN_OPTIONS"].empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    }
    for (const auto& [name, value] : options.environment) env[name] = value;
    std::vector<std::string> environment;
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = options.launcher;
    args.push_back(program.string());
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    int in[2] = {-1, -1};
    if (options.standardInput && ::pipe2(in, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return;
    }
    int logFd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.standardInput) {
      posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (logFd >= 0) posix_spawn_file_actions_adddup2(&actions, logFd, STDERR_FILENO);
    const auto started = std::chrono::steady_clock::now();
    stopSignal_ = options.stopSignal;
    int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (in[0] >= 0) ::close(in[0]);
    inFd_ = in[1];
    if (logFd >= 0) ::close(logFd);
    if (rc != 0) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    outFd_ = out[0];
    const std::string readyLine = options.readyLine.empty() ? "" : options.readyLine + "\n";
    reader_ = std::thread([this, started, readyLine] {
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(outFd_, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(n));
        if (readyAfter_.count() == 0 && !readyLine.empty() && output_.find(readyLine) != std::string::npos) {
          readyAfter_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        }
      }
    });
    if (options.readyLine.empty()) {
      ready_ = true;
      return;
    }
    waitUntil([this] { return startupTime().count() > 0 || !alive(); }, options.startTimeout);
    ready_ = startupTime().count() > 0;
    if (ready_) {
      std::ifstream in(portFile_);
      in >> port_;
    }
  }

  ~AppProcess() {
    if (inFd_ >= 0) ::close(inFd_);
    if (pid_ > 0) {
      int status;
      ::kill(pid_, stopSignal_);
      if (stopSignal_ == SIGKILL ||
          !waitUntil([this, &status] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(10))) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
    if (reader_.joinable()) reader_.join();
    if (outFd_ >= 0) ::close(outFd_);
    std::error_code ignored;
    std::filesystem::remove(portFile_, ignored);
    if (!std::getenv("QV_KEEP_APP_LOGS")) std::filesystem::remove(logPath_, ignored);
  }

  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  bool ready() const { return ready_; }
  int pid() const { return pid_; }
  // The device input's port (0 when the application did not get ready).
  int port() const { return port_; }
  // From the start of the process to its ready line (0 before).
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

  // Writes to the process's standard input (with `standardInput`); false when it
  // cannot be written.
  bool writeInput(const std::string& text) {
    ::signal(SIGPIPE, SIG_IGN);  // a process that has ended makes this fail, not the test
    std::size_t written = 0;
    while (inFd_ >= 0 && written < text.size()) {
      ssize_t n = ::write(inFd_, text.data() + written, text.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      written += static_cast<std::size_t>(n);
    }
    return inFd_ >= 0;
  }

  // Everything the process wrote on its standard output so far.
  std::string output() const {
    std::lock_guard lock(mutex_);
    return output_;
  }

  // Everything the application (and the agent in it) logged so far.
  std::string log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool logContains(const std::string& text) const { return log().find(text) != std::string::npos; }
  int logCount(const std::string& text) const {
    std::string all = log();
    int n = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

 private:
  static std::atomic<int>& serial() {
    static std::atomic<int> n{0};
    return n;
  }

  pid_t pid_ = -1;
  int stopSignal_ = SIGKILL;
  int outFd_ = -1;
  int inFd_ = -1;
  int port_ = 0;
  int exitStatus_ = -1;
  bool ready_ = false;
  std::filesystem::path logPath_;
  std::filesystem::path portFile_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string output_;
  std::chrono::milliseconds readyAfter_{0};
};

}  // namespace qvtest
