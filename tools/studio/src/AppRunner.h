// The application the studio runs itself (qvstudio --app): one run at a time, in a
// process group of its own, its standard output and error kept as their last lines,
// started again on request. No run outlives the studio: the group is ended when the
// runner goes, and the application gets SIGKILL from the kernel should the studio
// die without that.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace studio {

// Splits a command line into its words without a shell: blanks separate words,
// single quotes keep everything, double quotes keep everything but a backslash
// before " or \, and a backslash outside quotes keeps the next character. Throws
// std::invalid_argument for an unfinished quote or an empty command.
std::vector<std::string> splitCommand(const std::string& command);

class AppRunner {
 public:
  static constexpr std::size_t kLastLines = 20;

  struct Status {
    std::uint64_t run = 0;  // 1 for the first run, one more for each start
    bool alive = false;
    pid_t pid = -1;
    std::string exit;  // how the last run ended ("exited with status 1", ...)
    std::vector<std::string> lastLines;  // of its standard output and error (blank ones left out), oldest first
  };

  // `environment` is added to the studio's own. `onChange` is called from the
  // runner's thread (no lock of the runner held) with the status when a run starts
  // or ends.
  AppRunner(std::vector<std::string> argv, std::map<std::string, std::string> environment,
            std::function<void(Status)> onChange);
  ~AppRunner();
  AppRunner(const AppRunner&) = delete;
  AppRunner& operator=(const AppRunner&) = delete;

  // Ends the current run (SIGTERM to its group, SIGKILL after a grace time) and
  // starts a new one; the first call starts the first run.
  void restart();
  Status status() const;
  std::string commandText() const;

 private:
  void supervise();
  // One run from its start to its end.
  void runOnce();
  void keepOutput(const char* bytes, std::size_t size);  // under mutex_

  std::vector<std::string> argv_;
  std::vector<std::string> environment_;  // NAME=VALUE
  std::function<void(Status)> onChange_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool startWanted_ = false;
  Status status_;
  std::string partialLine_;
  std::deque<std::string> lines_;
  std::thread thread_;
};

}  // namespace studio
