#include "AppRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

extern char** environ;

namespace studio {

namespace {

using Clock = std::chrono::steady_clock;

// How long a run gets to end after SIGTERM before its group gets SIGKILL.
constexpr auto kGraceTime = std::chrono::seconds(2);
constexpr std::size_t kLongestLine = 400;

// The program's path: as given when it names a folder, else the first match on PATH.
std::string programPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t at = 0;
  while (at <= folders.size()) {
    auto end = folders.find(':', at);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(at, end - at);
    const auto candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    at = end + 1;
  }
  return name;
}

std::string exitText(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const char* name = ::sigabbrev_np(WTERMSIG(status));
    return "ended by signal " + std::to_string(WTERMSIG(status)) + (name ? std::string(" (SIG") + name + ")" : "");
  }
  return "ended";
}

}  // namespace

std::vector<std::string> splitCommand(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      for (; j < command.size() && command[j] != c; ++j) {
        if (c == '"' && command[j] == '\\' && j + 1 < command.size() &&
            (command[j + 1] == '"' || command[j + 1] == '\\')) {
          ++j;
        }
        word += command[j];
      }
      if (j >= command.size()) {
        throw std::invalid_argument(std::string("unfinished ") + c + " quote");
      }
      i = j;
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  if (words.empty()) throw std::invalid_argument("no command");
  return words;
}

AppRunner::AppRunner(std::vector<std::string> argv, std::map<std::string, std::string> environment,
                     std::function<void(Status)> onChange)
    : argv_(std::move(argv)), onChange_(std::move(onChange)) {
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (!environment.contains(entry.substr(0, entry.find('=')))) environment_.push_back(std::move(entry));
  }
  for (const auto& [name, value] : environment) environment_.push_back(name + "=" + value);
  thread_ = std::thread([this] { supervise(); });
}

AppRunner::~AppRunner() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

void AppRunner::restart() {
  std::lock_guard lock(mutex_);
  startWanted_ = true;
  wake_.notify_all();
}

AppRunner::Status AppRunner::status() const {
  std::lock_guard lock(mutex_);
  Status status = status_;
  status.lastLines.assign(lines_.begin(), lines_.end());
  if (!partialLine_.empty()) status.lastLines.push_back(partialLine_);
  return status;
}

std::string AppRunner::commandText() const {
  std::string text;
  for (const auto& word : argv_) {
    const bool plain = !word.empty() && word.find_first_of(" \t\n'\"\\") == std::string::npos;
    text += (text.empty() ? "" : " ") + (plain ? word : "'" + word + "'");
  }
  return text;
}

void AppRunner::keepOutput(const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] == '\n') {
      if (partialLine_.find_first_not_of(" \t") == std::string::npos) {
        partialLine_.clear();  // blank lines take no place among the last ones
        continue;
      }
      lines_.push_back(std::move(partialLine_));
      partialLine_.clear();
      if (lines_.size() > kLastLines) lines_.pop_front();
    } else if (bytes[i] != '\r' && partialLine_.size() < kLongestLine) {
      partialLine_ += bytes[i];
    }
  }
}

void AppRunner::supervise() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || startWanted_; });
      if (stopping_) return;
      startWanted_ = false;
    }
    runOnce();
  }
}

void AppRunner::runOnce() {
  // Everything the child needs is made before fork: after it, only system calls.
  const std::string path = programPath(argv_[0]);
  std::vector<char*> argv, envp;
  for (auto& word : argv_) argv.push_back(word.data());
  argv.push_back(nullptr);
  for (auto& entry : environment_) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string execFailed = "qvstudio: cannot run " + path + "\n";

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  const pid_t parent = ::getpid();
  // This thread forks every run and lives as long as the runner: the kernel's
  // parent-death signal follows the thread that forked.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);  // the studio blocks SIGINT and SIGTERM
    for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) ::signal(number, SIG_DFL);  // as the studio may not
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::close_range(3, ~0U, 0);
    ::execve(path.c_str(), argv.data(), envp.data());
    (void)!::write(STDERR_FILENO, execFailed.data(), execFailed.size());
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid < 0) {
    ::close(out[0]);
    std::lock_guard lock(mutex_);
    status_.exit = std::string("could not be started: ") + std::strerror(errno);
    return;
  }
  ::setpgid(pid, pid);  // also here, so that the group exists before any signal to it
  {
    std::lock_guard lock(mutex_);
    ++status_.run;
    status_.alive = true;
    status_.pid = pid;
    status_.exit.clear();
    lines_.clear();
    partialLine_.clear();
  }
  onChange_(status());

  int waitStatus = 0;
  bool ended = false, outputOpen = true;
  std::optional<Clock::time_point> termSent;
  while (!ended) {
    pollfd p{out[0], POLLIN, 0};
    if (outputOpen && ::poll(&p, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard lock(mutex_);
        keepOutput(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        outputOpen = false;
      }
    } else if (!outputOpen) {
      ::usleep(100 * 1000);
    }
    ended = ::waitpid(pid, &waitStatus, WNOHANG) == pid;
    bool endWanted;
    {
      std::lock_guard lock(mutex_);
      endWanted = stopping_ || startWanted_;
    }
    if (!ended && endWanted) {
      if (!termSent) {
        ::kill(-pid, SIGTERM);
        termSent = Clock::now();
      } else if (Clock::now() - *termSent > kGraceTime) {
        ::kill(-pid, SIGKILL);
      }
    }
  }
  ::kill(-pid, SIGKILL);  // whatever the application left behind in its group
  // What it wrote last, unless something left in the group still holds the pipe.
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    std::lock_guard lock(mutex_);
    keepOutput(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  {
    std::lock_guard lock(mutex_);
    status_.alive = false;
    status_.pid = -1;
    status_.exit = exitText(waitStatus);
  }
  onChange_(status());
}

}  // namespace studio
