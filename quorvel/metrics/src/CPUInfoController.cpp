#include "quorvel/metrics/CPUInfoController.h"

#include <algorithm>

#include "foundation/log.h"
#include "kernel/mach.h"

QV_OBJC_DEFINE_CLASS(CPUInfo, objc::Object)
QV_OBJC_DEFINE_CLASS(CPUInfoController, objc::Object)

namespace {

// One sample of every processor's counters.
struct TickSample {
  std::vector<processor_cpu_load_info> records;
  bool ok = false;
};

TickSample sampleTicks(host_t host) {
  TickSample sample;
  natural_t count = 0;
  processor_info_array_t info = nullptr;
  mach_msg_type_number_t infoCount = 0;
  if (host_processor_info(host, PROCESSOR_CPU_LOAD_INFO, &count, &info, &infoCount) != KERN_SUCCESS) return sample;
  const auto* records = reinterpret_cast<const processor_cpu_load_info*>(info);
  sample.records.assign(records, records + count);
  sample.ok = true;
  vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(info), infoCount * sizeof(integer_t));
  return sample;
}

// Ticks between two readings of a 32-bit counter that may have wrapped once.
std::uint64_t tickDifference(natural_t current, natural_t prior) {
  if (current >= prior) return current - prior;
  return std::uint64_t{current} + (std::uint64_t{1} << 32) - prior;
}

double cappedPercent(std::uint64_t part, std::uint64_t whole) {
  return std::min(100.0, static_cast<double>(part) / static_cast<double>(whole) * 100.0);
}

std::shared_ptr<CPULoad> loadBetween(const processor_cpu_load_info& prior, const processor_cpu_load_info& current) {
  auto difference = [&](int state) { return tickDifference(current.cpu_ticks[state], prior.cpu_ticks[state]); };
  const std::uint64_t system = difference(CPU_STATE_SYSTEM);
  const std::uint64_t user = difference(CPU_STATE_USER);
  const std::uint64_t nice = difference(CPU_STATE_NICE);
  const std::uint64_t idle = difference(CPU_STATE_IDLE);
  std::uint64_t total = system + user + nice + idle;
  std::uint64_t totalWithoutNice = system + user + idle;
  if (total == 0) total = 1;
  if (totalWithoutNice == 0) totalWithoutNice = 1;

  auto load = std::make_shared<CPULoad>();
  load->system = cappedPercent(system, total);
  load->user = cappedPercent(user, total);
  load->nice = cappedPercent(nice, total);
  load->systemWithoutNice = cappedPercent(system, totalWithoutNice);
  load->userWithoutNice = cappedPercent(user, totalWithoutNice);
  load->total = load->system + load->user + load->nice;
  return load;
}

}  // namespace

CPUInfoController::CPUInfoController() {
  host_ = mach_host_self();
  processor_set_default(host_, &processorSet_);
  TickSample first = sampleTicks(host_);
  if (first.ok) priorCpuTicks_ = std::move(first.records);
}

std::vector<std::shared_ptr<CPULoad>> CPUInfoController::calculateCPUUsage() {
  std::lock_guard lock(mutex_);
  TickSample current = sampleTicks(host_);
  if (!current.ok) {
    NSLog("Throwing to error");
    return fallbackLoads();
  }
  if (!priorCpuTicks_) {
    // The first sample failed: this one starts the interval for the next call.
    priorCpuTicks_ = std::move(current.records);
    return fallbackLoads();
  }

  const std::size_t count = current.records.size();
  NSLog("Processor Count is %tu", count);
  std::vector<std::shared_ptr<CPULoad>> loads;
  loads.reserve(count);
  const std::vector<processor_cpu_load_info>& prior = *priorCpuTicks_;
  for (std::size_t i = 0; i < count; ++i) {
    // A processor that came up after the previous sample is measured from zero.
    const processor_cpu_load_info before = i < prior.size() ? prior[i] : processor_cpu_load_info{};
    loads.push_back(loadBetween(before, current.records[i]));
  }
  priorCpuTicks_ = std::move(current.records);
  return loads;
}

std::vector<std::shared_ptr<CPULoad>> CPUInfoController::fallbackLoads() const {
  std::vector<std::shared_ptr<CPULoad>> loads;
  if (cpuInfo_) {
    for (std::uint64_t i = 0; i < cpuInfo_->activeCPUCount; ++i) loads.push_back(std::make_shared<CPULoad>());
  }
  return loads;
}

std::optional<std::size_t> CPUInfoController::priorProcessorCount() const {
  std::lock_guard lock(mutex_);
  if (!priorCpuTicks_) return std::nullopt;
  return priorCpuTicks_->size();
}

std::shared_ptr<CPUInfo> CPUInfoController::cpuInfo() const {
  std::lock_guard lock(mutex_);
  return cpuInfo_;
}

void CPUInfoController::setCpuInfo(std::shared_ptr<CPUInfo> info) {
  std::lock_guard lock(mutex_);
  cpuInfo_ = std::move(info);
}
