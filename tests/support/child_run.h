// A program run to its end as a child process for tests: its exit status, standard
// output and standard error, with a deadline on the run.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"

extern char** environ;

namespace qvtest {

struct ChildRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up in PATH when it has no slash) with the rest as its
// arguments, feeding `input` on its standard input; a run that takes longer than
// `timeout` is killed.
inline ChildRun runChild(std::vector<std::string> argv, const std::string& input = "",
                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  ChildRun run;
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  auto drain = [](int fd, std::string* into) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) into->append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
  };
  std::thread outReader(drain, out[0], &run.out);
  std::thread errReader(drain, err[0], &run.err);
  int status = 0;
  if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  outReader.join();
  errReader.join();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace qvtest
