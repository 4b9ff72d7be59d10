// The qvctl command line as the desktop tool's user runs it: one playback command
// per process, its reply read from standard output.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "app_process.h"
#include "foundation/json.h"
#include "wait.h"

extern char** environ;

namespace qvtest {

// Runs build/bin/qvctl with the arguments and returns what it printed on stdout
// (empty when it failed).
inline std::string qvctl(const std::vector<std::string>& args) {
  std::string path = (buildDir() / "bin" / "qvctl").string();
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid;
  int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string text;
  if (rc == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text.clear();
  }
  ::close(out[0]);
  return text;
}

// One playback command through qvctl (`play '<json>'` or a convenience command such
// as `gettext <id>`), its reply parsed. The playback server takes one client at a
// time and listens again only after the previous client has gone, so a run that
// finds nothing listening yet is repeated. A null value when no reply came.
inline JSONValue playback(const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  std::string reply;
  waitUntil(
      [&] {
        reply = qvctl(args);
        return !reply.empty();
      },
      timeout);
  auto parsed = JSONValue::parse(reply, nullptr, false);
  return parsed.is_discarded() ? JSONValue() : parsed;
}

// The element IDs of a find reply, in reply order.
inline std::vector<std::string> elementIds(const JSONValue& reply) {
  std::vector<std::string> ids;
  if (!reply.is_array()) return ids;
  for (const auto& entry : reply) {
    if (entry.contains("elementID")) ids.push_back(entry["elementID"].get<std::string>());
  }
  return ids;
}

// A one-entry "output" reply.
inline JSONValue output(const std::string& value) { return JSONValue::array({{{"output", value}}}); }

}  // namespace qvtest
