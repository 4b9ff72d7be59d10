#include "quorvel/metrics/RAMInfoController.h"

#include "foundation/process_info.h"
#include "kernel/host_info.h"
#include "quorvel/metrics/RAMInfo.h"
#include "quorvel/metrics/RAMUsage.h"

QV_OBJC_DEFINE_CLASS(RAMUsage, objc::Object)
QV_OBJC_DEFINE_CLASS(RAMInfo, objc::Object)
QV_OBJC_DEFINE_CLASS(RAMInfoController, objc::Object)

std::uint64_t RAMInfoController::getRAMTotal() const { return NSProcessInfo::processInfo()->physicalMemory(); }

std::shared_ptr<RAMUsage> RAMInfoController::getRAMUsage() const {
  vm_statistics64_data_t statistics{};
  mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
  if (host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&statistics), &count) !=
      KERN_SUCCESS) {
    return nullptr;
  }

  auto usage = std::make_shared<RAMUsage>();
  usage->activeRam = std::uint64_t{statistics.active_count} * kPageSize;
  usage->inactiveRam = std::uint64_t{statistics.inactive_count} * kPageSize;
  usage->wiredRam = std::uint64_t{statistics.wire_count} * kPageSize;
  usage->usedRam = usage->activeRam + usage->inactiveRam + usage->wiredRam;
  // Statistics and total are read at different moments; a used figure above the
  // total reports no free memory rather than a wrapped-around one.
  const std::uint64_t total = getRAMTotal();
  usage->freeRam = total > usage->usedRam ? total - usage->usedRam : 0;
  usage->pageIns = statistics.pageins;
  usage->pageOuts = statistics.pageouts;
  usage->pageFaults = statistics.faults;
  return usage;
}
