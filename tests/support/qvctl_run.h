// build/bin/qvctl as a child process for tests: its exit status, standard output and
// standard error, with a deadline on the run; and one playback request sent through
// it the way the desktop tool does.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_run.h"
#include "reply_lists.h"
#include "wait.h"

namespace qvtest {

using QvctlRun = ChildRun;

// Runs build/bin/qvctl (or the one under QV_BUILD_DIR) with `args`, feeding `input`
// on its standard input; a run that takes longer than 30 seconds is killed.
inline QvctlRun runQvctl(const std::vector<std::string>& args, const std::string& input = "") {
  const std::filesystem::path build = std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : "build";
  std::vector<std::string> argv{(build / "bin" / "qvctl").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(std::move(argv), input);
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
