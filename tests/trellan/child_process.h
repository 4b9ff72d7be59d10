// Runs a program as a child process with its standard output and standard error
// captured separately, waiting for it against a deadline.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"

extern char** environ;

namespace trellantest {

struct ChildRun {
  bool started = false;
  bool finished = false;  // ended by itself before the deadline
  int pid = -1;
  int exitStatus = -1;    // the exit status, or 128 + the signal that ended it
  std::string out;        // standard output
  std::string err;        // standard error
};

// Runs `argv` with the current environment, less the variables in `unset`, plus
// `env`. A child still running at `timeout` is killed.
inline ChildRun runChild(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         const std::set<std::string>& unset, std::chrono::milliseconds timeout) {
  ChildRun run;
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!unset.count(name) && !env.count(name)) environment.push_back(entry);
  }
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);

  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return run;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return run;
  }
  run.started = true;
  run.pid = pid;

  std::mutex mutex;
  auto drain = [&mutex](int fd, std::string* into) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n <= 0) continue;
      std::lock_guard lock(mutex);
      into->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
  };
  std::thread outReader(drain, outPipe[0], &run.out);
  std::thread errReader(drain, errPipe[0], &run.err);

  int status = 0;
  run.finished = qvtest::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
  if (!run.finished) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  outReader.join();
  errReader.join();
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace trellantest
