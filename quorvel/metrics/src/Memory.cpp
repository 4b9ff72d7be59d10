#include "quorvel/metrics/Memory.h"

#include "foundation/log.h"
#include "quorvel/metrics/CPUInfoController.h"
#include "quorvel/metrics/RAMInfoController.h"

QV_OBJC_DEFINE_CLASS(Memory, objc::Object)

void Memory::showMemoryAndCpuStats() {
  auto ramController = std::make_shared<RAMInfoController>();
  std::shared_ptr<RAMUsage> usage = ramController->getRAMUsage();
  NSLog("Used Ram %tu", usage ? usage->usedRam : std::uint64_t{0});
  NSLog("Free Ram %tu", usage ? usage->freeRam : std::uint64_t{0});

  // A new controller: the interval is the moment between its two samples.
  auto cpuController = std::make_shared<CPUInfoController>();
  for (const auto& load : cpuController->calculateCPUUsage()) {
    NSLog("User CPU Usage %tu", static_cast<std::uint64_t>(load->user));
    NSLog("System CPU Usage %tu", static_cast<std::uint64_t>(load->system));
    NSLog("App CPU Usage %tu", static_cast<std::uint64_t>(load->nice));
  }
}
