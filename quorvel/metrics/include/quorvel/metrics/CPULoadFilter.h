// Running average of processor loads.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "objc/runtime.h"
#include "quorvel/metrics/CPULoad.h"

class CPULoadFilter : public objc::Object {
  QV_OBJC_DECLARE_CLASS(CPULoadFilter)
 public:
  // How many loads appendRawCpuLoad keeps, newest first.
  static constexpr std::size_t kRawCpuLoadHistoryLimit = 60;

  // Appends `load` to the history and returns a new load holding the averages of
  // the whole history (sums in single precision); total = system + user + nice of
  // the averages. The history is not trimmed. A null load raises
  // NSInvalidArgumentException.
  std::shared_ptr<CPULoad> filterLoad(const std::shared_ptr<CPULoad>& load);
  // Inserts `load` at the front of the history, then drops the oldest entries
  // beyond kRawCpuLoadHistoryLimit. A null load raises NSInvalidArgumentException.
  void appendRawCpuLoad(const std::shared_ptr<CPULoad>& load);

  std::vector<std::shared_ptr<CPULoad>> rawCpuLoadHistory() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<CPULoad>> rawCpuLoadHistory_;
};
