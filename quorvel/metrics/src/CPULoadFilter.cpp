#include "quorvel/metrics/CPULoadFilter.h"

#include "objc/exception.h"

QV_OBJC_DEFINE_CLASS(CPULoad, objc::Object)
QV_OBJC_DEFINE_CLASS(CPULoadFilter, objc::Object)

namespace {

void requireLoad(const std::shared_ptr<CPULoad>& load, const char* operation) {
  if (!load) {
    objc::NSException::raise(objc::NSInvalidArgumentException,
                             std::string("-[CPULoadFilter ") + operation + "]: load cannot be nil");
  }
}

}  // namespace

std::shared_ptr<CPULoad> CPULoadFilter::filterLoad(const std::shared_ptr<CPULoad>& load) {
  requireLoad(load, "filterLoad:");
  float system = 0, user = 0, nice = 0, systemWithoutNice = 0, userWithoutNice = 0;
  float count = 0;
  {
    std::lock_guard lock(mutex_);
    rawCpuLoadHistory_.push_back(load);
    for (const auto& entry : rawCpuLoadHistory_) {
      system += static_cast<float>(entry->system);
      user += static_cast<float>(entry->user);
      nice += static_cast<float>(entry->nice);
      systemWithoutNice += static_cast<float>(entry->systemWithoutNice);
      userWithoutNice += static_cast<float>(entry->userWithoutNice);
    }
    count = static_cast<float>(rawCpuLoadHistory_.size());
  }
  auto average = std::make_shared<CPULoad>();
  average->system = system / count;
  average->user = user / count;
  average->nice = nice / count;
  average->systemWithoutNice = systemWithoutNice / count;
  average->userWithoutNice = userWithoutNice / count;
  average->total = average->system + average->user + average->nice;
  return average;
}

void CPULoadFilter::appendRawCpuLoad(const std::shared_ptr<CPULoad>& load) {
  requireLoad(load, "appendRawCpuLoad:");
  std::lock_guard lock(mutex_);
  rawCpuLoadHistory_.insert(rawCpuLoadHistory_.begin(), load);
  if (rawCpuLoadHistory_.size() > kRawCpuLoadHistoryLimit) rawCpuLoadHistory_.resize(kRawCpuLoadHistoryLimit);
}

std::vector<std::shared_ptr<CPULoad>> CPULoadFilter::rawCpuLoadHistory() const {
  std::lock_guard lock(mutex_);
  return rawCpuLoadHistory_;
}
