#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/testing.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::uint64_t> readMeminfoKb() {
  std::map<std::string, std::uint64_t> values;
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t value;
  std::string rest;
  while (in >> key >> value) {
    std::getline(in, rest);
    key.pop_back();
    values[key] = value;
  }
  return values;
}

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel::testing::reset();
    char pattern[] = "/tmp/kernel_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    kernel::testing::reset();
    fs::remove_all(root_);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(root_ / name) << text;
  }
  // Queries the load records and releases them; empty on failure.
  static std::vector<processor_cpu_load_info> loadRecords(kern_return_t* result = nullptr) {
    natural_t count = 0;
    processor_info_array_t info = nullptr;
    mach_msg_type_number_t infoCount = 0;
    kern_return_t kr = host_processor_info(mach_host_self(), PROCESSOR_CPU_LOAD_INFO, &count, &info, &infoCount);
    if (result) *result = kr;
    if (kr != KERN_SUCCESS) return {};
    EXPECT_EQ(infoCount, count * PROCESSOR_CPU_LOAD_INFO_COUNT);
    auto* records = reinterpret_cast<processor_cpu_load_info*>(info);
    std::vector<processor_cpu_load_info> out(records, records + count);
    EXPECT_EQ(vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(info), infoCount * sizeof(integer_t)),
              KERN_SUCCESS);
    return out;
  }
  static kern_return_t statistics(vm_statistics64& out) {
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    return host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&out), &count);
  }

  fs::path root_;
};

TEST_F(KernelTest, PortsAndArgumentChecks) {
  EXPECT_EQ(mach_host_self(), mach_host_self());
  EXPECT_NE(mach_host_self(), MACH_PORT_NULL);
  processor_set_name_t set = MACH_PORT_NULL;
  EXPECT_EQ(processor_set_default(mach_host_self(), &set), KERN_SUCCESS);
  EXPECT_NE(set, MACH_PORT_NULL);
  EXPECT_EQ(processor_set_default(mach_host_self() + 1, &set), KERN_INVALID_HOST);

  vm_statistics64 stats{};
  mach_msg_type_number_t count = HOST_VM_INFO64_COUNT - 1;
  EXPECT_EQ(host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&stats), &count),
            KERN_FAILURE);
  count = HOST_VM_INFO64_COUNT;
  EXPECT_EQ(host_statistics64(mach_host_self(), 2, reinterpret_cast<host_info64_t>(&stats), &count),
            KERN_INVALID_ARGUMENT);
  EXPECT_EQ(host_statistics64(0, HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&stats), &count), KERN_INVALID_HOST);

  natural_t n = 0;
  processor_info_array_t info = nullptr;
  mach_msg_type_number_t infoCount = 0;
  EXPECT_EQ(host_processor_info(mach_host_self(), 1, &n, &info, &infoCount), KERN_INVALID_ARGUMENT);
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 0u);
}

TEST_F(KernelTest, MemoryStatisticsFollowTheDocumentedMapping) {
  write("meminfo",
        "MemTotal: 8000000 kB\nMemFree: 4000 kB\nActive: 40960 kB\nInactive: 8195 kB\n"
        "Unevictable: 400 kB\nSReclaimable: 9000 kB\nSUnreclaim: 800 kB\nKernelStack: 1200 kB\n"
        "PageTables: 1600 kB\n");
  write("vmstat", "pgpgin 4001\npgpgout 803\npswpin 7\npswpout 9\npgfault 123456\npgmajfault 5\n");
  kernel::testing::setProcRoot(root_);

  vm_statistics64 stats{};
  mach_msg_type_number_t count = HOST_VM_INFO64_COUNT + 10;
  ASSERT_EQ(host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&stats), &count),
            KERN_SUCCESS);
  EXPECT_EQ(count, HOST_VM_INFO64_COUNT);
  EXPECT_EQ(stats.free_count, 1000u);
  EXPECT_EQ(stats.active_count, 10240u);
  EXPECT_EQ(stats.inactive_count, 2048u);  // partial page rounded down
  EXPECT_EQ(stats.wire_count, 1000u);      // (400 + 800 + 1200 + 1600) / 4
  EXPECT_EQ(stats.pageins, 1000u);
  EXPECT_EQ(stats.pageouts, 200u);
  EXPECT_EQ(stats.faults, 123456u);
  EXPECT_EQ(stats.swapins, 7u);
  EXPECT_EQ(stats.swapouts, 9u);
}

TEST_F(KernelTest, MemoryStatisticsFailWhenSourcesAreMissingOrIncomplete) {
  vm_statistics64 stats{};
  kernel::testing::setProcRoot(root_);
  EXPECT_EQ(statistics(stats), KERN_FAILURE);  // no files at all

  write("meminfo", "MemFree: 4000 kB\nInactive: 8192 kB\n");  // no Active
  write("vmstat", "pgfault 1\n");
  EXPECT_EQ(statistics(stats), KERN_FAILURE);

  kernel::testing::reset();
  kernel::testing::failQuery(kernel::testing::Query::hostStatistics, KERN_RESOURCE_SHORTAGE);
  EXPECT_EQ(statistics(stats), KERN_RESOURCE_SHORTAGE);
  kernel::testing::failQuery(kernel::testing::Query::hostStatistics, KERN_SUCCESS);
  EXPECT_EQ(statistics(stats), KERN_SUCCESS);
}

TEST_F(KernelTest, MachineMemoryStatisticsMatchProcMeminfo) {
  vm_statistics64 stats{};
  ASSERT_EQ(statistics(stats), KERN_SUCCESS);
  auto kb = readMeminfoKb();
  // The figures move between the two reads; 16 MiB (4096 pages) is ample slack.
  const double slack = 4096;
  EXPECT_NEAR(stats.active_count, kb["Active"] / 4.0, slack);
  EXPECT_NEAR(stats.inactive_count, kb["Inactive"] / 4.0, slack);
  EXPECT_NEAR(stats.wire_count, (kb["Unevictable"] + kb["SUnreclaim"] + kb["KernelStack"] + kb["PageTables"]) / 4.0,
              slack);
  std::uint64_t used = std::uint64_t(stats.active_count) + stats.inactive_count + stats.wire_count;
  EXPECT_LE(used, kb["MemTotal"] / 4);
  EXPECT_GT(stats.faults, 0u);  // this process alone has faulted pages in
}

TEST_F(KernelTest, ProcessorTicksMapStatesAndWrapAt32Bits) {
  // user nice system idle iowait irq softirq steal
  write("stat",
        "cpu  100 100 100 100 0 0 0 0\n"
        "cpu0 10 2 30 400 5 6 7 99 0 0\n"
        "cpu2 4294967301 0 1 2\n"
        "intr 1 2 3\n");
  kernel::testing::setProcRoot(root_);
  auto records = loadRecords();
  ASSERT_EQ(records.size(), 3u);  // cpu1 is offline, its slot stays
  EXPECT_EQ(records[0].cpu_ticks[CPU_STATE_USER], 10u);
  EXPECT_EQ(records[0].cpu_ticks[CPU_STATE_NICE], 2u);
  EXPECT_EQ(records[0].cpu_ticks[CPU_STATE_SYSTEM], 43u);  // system + irq + softirq
  EXPECT_EQ(records[0].cpu_ticks[CPU_STATE_IDLE], 405u);   // idle + iowait
  EXPECT_EQ(records[1].cpu_ticks[CPU_STATE_IDLE], 0u);
  EXPECT_EQ(records[2].cpu_ticks[CPU_STATE_USER], 5u);  // 2^32 + 5 wrapped

  // cpu2 goes offline: it keeps its last counters instead of dropping to zero.
  write("stat", "cpu0 11 2 30 401\n");
  records = loadRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].cpu_ticks[CPU_STATE_USER], 11u);
  EXPECT_EQ(records[2].cpu_ticks[CPU_STATE_USER], 5u);
  EXPECT_EQ(records[2].cpu_ticks[CPU_STATE_IDLE], 2u);

  write("stat", "intr 1\n");
  kern_return_t kr = KERN_SUCCESS;
  EXPECT_TRUE(loadRecords(&kr).empty());
  EXPECT_EQ(kr, KERN_FAILURE);
}

TEST_F(KernelTest, MachineProcessorsAreAllReported) {
  auto records = loadRecords();
  EXPECT_EQ(records.size(), static_cast<std::size_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
  for (const auto& r : records) {
    EXPECT_GT(std::uint64_t(r.cpu_ticks[CPU_STATE_IDLE]) + r.cpu_ticks[CPU_STATE_USER] +
                  r.cpu_ticks[CPU_STATE_SYSTEM],
              0u);
  }
}

TEST_F(KernelTest, InjectedTicksAndFailures) {
  kernel::testing::setProcessorTicks(std::vector<processor_cpu_load_info>{{{1, 2, 3, 4}}, {{5, 6, 7, 8}}});
  auto records = loadRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].cpu_ticks[CPU_STATE_NICE], 8u);
  EXPECT_EQ(loadRecords()[0].cpu_ticks[CPU_STATE_USER], 1u);  // a single sample repeats

  kernel::testing::queueProcessorTicks({{{9, 9, 9, 9}}});
  kernel::testing::queueProcessorTicks({{{7, 7, 7, 7}}});
  EXPECT_EQ(loadRecords()[0].cpu_ticks[CPU_STATE_USER], 1u);
  EXPECT_EQ(loadRecords()[0].cpu_ticks[CPU_STATE_USER], 9u);
  EXPECT_EQ(loadRecords()[0].cpu_ticks[CPU_STATE_USER], 7u);
  EXPECT_EQ(loadRecords()[0].cpu_ticks[CPU_STATE_USER], 7u);  // the last one stays

  kernel::testing::failQuery(kernel::testing::Query::processorInfo, KERN_FAILURE);
  kern_return_t kr = KERN_SUCCESS;
  EXPECT_TRUE(loadRecords(&kr).empty());
  EXPECT_EQ(kr, KERN_FAILURE);
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 0u);
}

TEST_F(KernelTest, DeallocateReleasesOnlyWhatWasHandedOut) {
  natural_t count = 0;
  processor_info_array_t info = nullptr;
  mach_msg_type_number_t infoCount = 0;
  ASSERT_EQ(host_processor_info(mach_host_self(), PROCESSOR_CPU_LOAD_INFO, &count, &info, &infoCount), KERN_SUCCESS);
  auto address = reinterpret_cast<vm_address_t>(info);
  vm_size_t size = infoCount * sizeof(integer_t);
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 1u);

  EXPECT_EQ(vm_deallocate(mach_task_self(), address, size + 4), KERN_INVALID_ADDRESS);
  EXPECT_EQ(vm_deallocate(mach_task_self() + 1, address, size), KERN_INVALID_ARGUMENT);
  int local = 0;
  EXPECT_EQ(vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(&local), sizeof local),
            KERN_INVALID_ADDRESS);
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 1u);
  EXPECT_EQ(vm_deallocate(mach_task_self(), address, size), KERN_SUCCESS);
  EXPECT_EQ(vm_deallocate(mach_task_self(), address, size), KERN_INVALID_ADDRESS);  // already released
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 0u);
}

TEST_F(KernelTest, ConcurrentQueriesReleaseEverything) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        kern_return_t kr = KERN_SUCCESS;
        if (loadRecords(&kr).empty() || kr != KERN_SUCCESS) ++failures;
        vm_statistics64 stats{};
        if (statistics(stats) != KERN_SUCCESS) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(kernel::testing::outstandingAllocations(), 0u);
}

}  // namespace
