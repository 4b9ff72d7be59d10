// build/bin/qvctl as a child process for tests: its exit status, standard output and
// standard error, with a deadline on the run; and one playback request sent through
// it the way the desktop tool does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "reply_lists.h"
#include "wait.h"

extern char** environ;

namespace qvtest {

struct QvctlRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs build/bin/qvctl (or the one under QV_BUILD_DIR) with `args`, feeding `input`
// on its standard input; a run that takes longer than 30 seconds is killed.
inline QvctlRun runQvctl(const std::vector<std::string>& args, const std::string& input = "") {
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  const std::string program = (build / "bin" / "qvctl").string();
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
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
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  QvctlRun run;
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
  if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30))) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  outReader.join();
  errReader.join();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// The reply qvctl printed for a playback command, parsed (null when the run failed
// or printed no JSON). The playback server takes one client at a time and listens
// again only after the previous client has gone, so a run that finds nothing
// listening yet is repeated for up to `patience`.
inline nlohmann::json qvctlReply(const std::vector<std::string>& args,
                                 std::chrono::milliseconds patience = std::chrono::seconds(10)) {
  QvctlRun run;
  waitUntil(
      [&] {
        run = runQvctl(args);
        return run.status == 0 && !run.out.empty();
      },
      patience);
  if (run.status != 0) return nullptr;
  auto parsed = nlohmann::json::parse(run.out, nullptr, false);
  return parsed.is_discarded() ? nlohmann::json() : parsed;
}

// One request through `qvctl play`.
inline nlohmann::json playThroughQvctl(const nlohmann::json& request,
                                       std::chrono::milliseconds patience = std::chrono::seconds(10)) {
  return qvctlReply({"play", request.dump()}, patience);
}

// A playback command through qvctl (`play '<json>'` or a convenience command such
// as `gettext <id>`), its reply parsed; the same patience as qvctlReply.
inline nlohmann::json playback(const std::vector<std::string>& args,
                               std::chrono::milliseconds patience = std::chrono::seconds(10)) {
  return qvctlReply(args, patience);
}

}  // namespace qvtest
