// The application's one browser process: headless Chromium, started on first use
// and driven over its debugging pipe (fds 3 and 4 of the browser). It ends with the
// application: at a normal exit it is killed and its profile removed, and if the
// application dies any other way the kernel kills it (parent-death signal).
//
// Without Chromium (QUORVEL_CHROMIUM names another executable; the default is
// /usr/bin/chromium) the first use logs one line and every later one answers
// nullptr at once: web views stay blank and nothing else changes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "webkit/DevToolsConnection.h"

namespace webkit {

class Browser {
 public:
  // The running browser, started (and waited for) on the first call; nullptr when
  // it cannot run. A browser that ended is started again by the next call.
  static std::shared_ptr<Browser> shared();
  static std::string executablePath();

  ~Browser();
  const std::shared_ptr<DevToolsConnection>& connection() const { return connection_; }
  pid_t pid() const { return pid_; }
  bool isRunning() const { return connection_ && !connection_->isClosed(); }
  // Kills the browser and its helper processes and removes its profile. Idempotent.
  void terminate();

  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

 private:
  struct Process;
  Browser() = default;
  static std::shared_ptr<Browser> launch(const std::string& path);

  pid_t pid_ = -1;
  std::string profileDir_;
  std::shared_ptr<Process> process_;
  std::shared_ptr<DevToolsConnection> connection_;
};

}  // namespace webkit
