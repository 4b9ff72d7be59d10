// Collects the platform log's lines while the object lives (the log observers see
// every line even when QUORVEL_LOG=off silences the output). A line being logged
// by another thread while the object goes away still finds its storage alive.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/log.h"

namespace qvtest {

class LogLines {
 public:
  LogLines() : state_(std::make_shared<State>()) {
    token_ = foundation::addLogObserver([state = state_](const std::string& line) {
      std::lock_guard lock(state->mutex);
      state->lines.push_back(line);
    });
  }
  ~LogLines() { foundation::removeLogObserver(token_); }
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;

  // Lines containing `text`.
  int count(const std::string& text) const {
    std::lock_guard lock(state_->mutex);
    int n = 0;
    for (const auto& line : state_->lines) n += line.find(text) != std::string::npos;
    return n;
  }
  bool contains(const std::string& text) const { return count(text) > 0; }
  // Lines equal to `text`.
  int countExact(const std::string& text) const {
    std::lock_guard lock(state_->mutex);
    int n = 0;
    for (const auto& line : state_->lines) n += line == text;
    return n;
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<State> state_;
  int token_;
};

}  // namespace qvtest
