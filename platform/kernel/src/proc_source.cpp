// Where the device's statistics come from on Linux.
//
// Virtual memory (host_statistics64, HOST_VM_INFO64), pages of 4096 bytes, from
// /proc/meminfo (kB; 4 kB make one page, rounded down):
//   free_count     = MemFree
//   active_count   = Active      (the active LRU lists, anonymous and file)
//   inactive_count = Inactive    (the inactive LRU lists: reclaimable when needed)
//   wire_count     = Unevictable + SUnreclaim + KernelStack + PageTables
//     Wired memory is memory the system can neither reclaim nor page out: locked
//     and otherwise unevictable pages, kernel slab that cannot be reclaimed, kernel
//     stacks and page tables. None of these is on the active or inactive lists, so
//     active + inactive + wired never counts a page twice and stays within MemTotal.
//     Reclaimable slab and caches not on the LRU lists are left out, as the device
//     leaves purgeable and speculative pages out of these three counts.
// and from /proc/vmstat (counts since boot):
//   pageins  = pgpgin / 4    (pgpgin and pgpgout count kB moved between memory and
//   pageouts = pgpgout / 4    storage, file-backed paging included, so they move
//                             even on a machine without swap, as the device's
//                             counts of pages read from and written to storage do)
//   faults   = pgfault
//   swapins  = pswpin, swapouts = pswpout
// Fields with no Linux counterpart are 0.
//
// Processor load (host_processor_info, PROCESSOR_CPU_LOAD_INFO), from the "cpuN"
// lines of /proc/stat (clock ticks):
//   user   = user (guest time included by the kernel)
//   system = system + irq + softirq (time spent in the kernel for anyone)
//   idle   = idle + iowait (nothing to run, whether or not I/O was pending)
//   nice   = nice (guest_nice included)
//   Steal time is time the machine did not have, and belongs to no state.
// Each counter is cut to 32 bits, so it wraps as the device's do. A processor
// that is offline has no line; it keeps the counters last seen for it (its ticks
// do not move), and the processor count is the highest index seen plus one.
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "internal.h"

namespace kernel::detail {
namespace {

constexpr std::uint64_t kKilobytesPerPage = 4;

bool readFile(const std::string& path, std::string& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = text.str();
  return true;
}

// "Name: value [kB]" or "name value" lines into a map.
std::map<std::string, std::uint64_t> readKeyValues(const std::string& text) {
  std::map<std::string, std::uint64_t> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string key;
    std::uint64_t value = 0;
    if (!(fields >> key >> value)) continue;
    if (!key.empty() && key.back() == ':') key.pop_back();
    values[key] = value;
  }
  return values;
}

std::uint64_t valueOf(const std::map<std::string, std::uint64_t>& values, const char* key) {
  auto it = values.find(key);
  return it == values.end() ? 0 : it->second;
}

natural_t pages(std::uint64_t kilobytes) { return static_cast<natural_t>(kilobytes / kKilobytesPerPage); }

}  // namespace

bool readVMStatistics(const std::string& root, vm_statistics64& out) {
  std::string meminfoText, vmstatText;
  if (!readFile(root + "/meminfo", meminfoText) || !readFile(root + "/vmstat", vmstatText)) return false;
  auto meminfo = readKeyValues(meminfoText);
  auto vmstat = readKeyValues(vmstatText);
  for (const char* key : {"MemFree", "Active", "Inactive"}) {
    if (!meminfo.count(key)) return false;
  }

  out = vm_statistics64{};
  out.free_count = pages(valueOf(meminfo, "MemFree"));
  out.active_count = pages(valueOf(meminfo, "Active"));
  out.inactive_count = pages(valueOf(meminfo, "Inactive"));
  out.wire_count = pages(valueOf(meminfo, "Unevictable") + valueOf(meminfo, "SUnreclaim") +
                         valueOf(meminfo, "KernelStack") + valueOf(meminfo, "PageTables"));
  out.pageins = valueOf(vmstat, "pgpgin") / kKilobytesPerPage;
  out.pageouts = valueOf(vmstat, "pgpgout") / kKilobytesPerPage;
  out.faults = valueOf(vmstat, "pgfault");
  out.swapins = valueOf(vmstat, "pswpin");
  out.swapouts = valueOf(vmstat, "pswpout");
  return true;
}

bool readProcessorTicks(const std::string& root, std::vector<processor_cpu_load_info>& lastTicks) {
  std::string text;
  if (!readFile(root + "/stat", text)) return false;
  std::istringstream lines(text);
  std::string line;
  bool any = false;
  while (std::getline(lines, line)) {
    // "cpuN user nice system idle iowait irq softirq steal guest guest_nice"
    if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || line[3] < '0' || line[3] > '9') continue;
    std::istringstream fields(line.substr(3));
    std::size_t index = 0;
    if (!(fields >> index) || index > 65535) continue;
    std::uint64_t v[7] = {};  // user nice system idle iowait irq softirq
    int read = 0;
    while (read < 7 && fields >> v[read]) ++read;
    if (read < 4) continue;  // iowait, irq and softirq are missing on old kernels
    processor_cpu_load_info record{};
    record.cpu_ticks[CPU_STATE_USER] = static_cast<natural_t>(v[0]);
    record.cpu_ticks[CPU_STATE_NICE] = static_cast<natural_t>(v[1]);
    record.cpu_ticks[CPU_STATE_SYSTEM] = static_cast<natural_t>(v[2] + v[5] + v[6]);
    record.cpu_ticks[CPU_STATE_IDLE] = static_cast<natural_t>(v[3] + v[4]);
    if (index >= lastTicks.size()) lastTicks.resize(index + 1, processor_cpu_load_info{});
    lastTicks[index] = record;
    any = true;
  }
  return any;
}

}  // namespace kernel::detail
