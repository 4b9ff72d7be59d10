#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "log_lines.h"
#include "kernel/kernel.h"
#include "kernel/testing.h"
#include "objc/exception.h"
#include "quorvel/metrics/CPUInfoController.h"
#include "quorvel/metrics/CPULoadFilter.h"
#include "quorvel/metrics/Memory.h"
#include "quorvel/metrics/RAMInfoController.h"

namespace {

using kernel::testing::Query;
using Ticks = std::vector<processor_cpu_load_info>;

processor_cpu_load_info ticks(natural_t user, natural_t system, natural_t idle, natural_t nice) {
  processor_cpu_load_info record{};
  record.cpu_ticks[CPU_STATE_USER] = user;
  record.cpu_ticks[CPU_STATE_SYSTEM] = system;
  record.cpu_ticks[CPU_STATE_IDLE] = idle;
  record.cpu_ticks[CPU_STATE_NICE] = nice;
  return record;
}

std::shared_ptr<CPULoad> makeLoad(double system, double user, double nice, double systemWithoutNice,
                                  double userWithoutNice) {
  auto load = std::make_shared<CPULoad>();
  load->system = system;
  load->user = user;
  load->nice = nice;
  load->systemWithoutNice = systemWithoutNice;
  load->userWithoutNice = userWithoutNice;
  load->total = system + user + nice;
  return load;
}

class MetricsTest : public ::testing::Test {
 protected:
  void SetUp() override { kernel::testing::reset(); }
  void TearDown() override {
    EXPECT_EQ(kernel::testing::outstandingAllocations(), 0u) << "kernel arrays not released";
    kernel::testing::reset();
  }
};

// ---- memory ----

TEST_F(MetricsTest, RAMUsageIsPagesTimes4096) {
  vm_statistics64 stats{};
  stats.active_count = 10;
  stats.inactive_count = 20;
  stats.wire_count = 30;
  stats.free_count = 999;  // not part of any figure
  stats.pageins = 7;
  stats.pageouts = 8;
  stats.faults = 9;
  kernel::testing::setVMStatistics(stats);

  auto controller = std::make_shared<RAMInfoController>();
  auto usage = controller->getRAMUsage();
  ASSERT_NE(usage, nullptr);
  EXPECT_EQ(usage->activeRam, 10u * 4096);
  EXPECT_EQ(usage->inactiveRam, 20u * 4096);
  EXPECT_EQ(usage->wiredRam, 30u * 4096);
  EXPECT_EQ(usage->usedRam, 60u * 4096);
  EXPECT_EQ(usage->freeRam, controller->getRAMTotal() - 60u * 4096);
  EXPECT_EQ(usage->pageIns, 7u);
  EXPECT_EQ(usage->pageOuts, 8u);
  EXPECT_EQ(usage->pageFaults, 9u);
}

TEST_F(MetricsTest, UsedAboveTotalGivesNoFreeMemoryRatherThanAWrappedFigure) {
  vm_statistics64 stats{};
  stats.active_count = 0xFFFFFFFFu;  // 16 TiB of pages, beyond any test machine
  kernel::testing::setVMStatistics(stats);
  auto usage = std::make_shared<RAMInfoController>()->getRAMUsage();
  ASSERT_NE(usage, nullptr);
  EXPECT_EQ(usage->usedRam, 0xFFFFFFFFull * 4096);
  EXPECT_EQ(usage->freeRam, 0u);
}

TEST_F(MetricsTest, FailedMemoryQueryGivesAbsentUsage) {
  kernel::testing::failQuery(Query::hostStatistics, KERN_FAILURE);
  EXPECT_EQ(std::make_shared<RAMInfoController>()->getRAMUsage(), nullptr);
}

TEST_F(MetricsTest, MachineMemoryAgreesWithProcMeminfo) {
  std::map<std::string, std::uint64_t> kb;
  {
    std::ifstream in("/proc/meminfo");
    std::string key, unit;
    std::uint64_t value;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      if (fields >> key >> value) kb[key.substr(0, key.size() - 1)] = value;
    }
  }
  auto controller = std::make_shared<RAMInfoController>();
  EXPECT_EQ(controller->getRAMTotal(), kb["MemTotal"] * 1024);
  auto usage = controller->getRAMUsage();
  ASSERT_NE(usage, nullptr);
  // Memory moves between the two readings; 16 MiB is ample slack on a test machine.
  const double slack = 16.0 * 1024 * 1024;
  EXPECT_NEAR(usage->activeRam, kb["Active"] * 1024.0, slack);
  EXPECT_NEAR(usage->inactiveRam, kb["Inactive"] * 1024.0, slack);
  EXPECT_NEAR(usage->wiredRam, (kb["Unevictable"] + kb["SUnreclaim"] + kb["KernelStack"] + kb["PageTables"]) * 1024.0,
              slack);
  EXPECT_EQ(usage->usedRam, usage->activeRam + usage->inactiveRam + usage->wiredRam);
  EXPECT_EQ(usage->usedRam + usage->freeRam, controller->getRAMTotal());
}

// ---- processor load ----

TEST_F(MetricsTest, LoadIsTheShareOfEachStateInTheInterval) {
  kernel::testing::setProcessorTicks(Ticks{ticks(100, 100, 100, 100)});
  auto controller = std::make_shared<CPUInfoController>();
  EXPECT_EQ(controller->priorProcessorCount(), 1u);
  // user +30, system +10, idle +40, nice +20
  kernel::testing::setProcessorTicks(Ticks{ticks(130, 110, 140, 120)});
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 30.0);
  EXPECT_DOUBLE_EQ(loads[0]->system, 10.0);
  EXPECT_DOUBLE_EQ(loads[0]->nice, 20.0);
  EXPECT_DOUBLE_EQ(loads[0]->userWithoutNice, 37.5);
  EXPECT_DOUBLE_EQ(loads[0]->systemWithoutNice, 12.5);
  EXPECT_DOUBLE_EQ(loads[0]->total, 60.0);

  // The next interval starts at the sample just taken.
  kernel::testing::setProcessorTicks(Ticks{ticks(230, 110, 140, 120)});
  loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 100.0);
  EXPECT_DOUBLE_EQ(loads[0]->system, 0.0);
  EXPECT_DOUBLE_EQ(loads[0]->total, 100.0);
}

TEST_F(MetricsTest, WrappedCounterGivesItsTrueSmallDifference) {
  kernel::testing::setProcessorTicks(Ticks{ticks(0xFFFFFFF0u, 0xFFFFFFFFu, 1000, 5)});
  auto controller = std::make_shared<CPUInfoController>();
  // user wraps: +32; system wraps: +8; idle +40; nice unchanged.
  kernel::testing::setProcessorTicks(Ticks{ticks(0x10u, 7, 1040, 5)});
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 40.0);
  EXPECT_DOUBLE_EQ(loads[0]->system, 10.0);
  EXPECT_DOUBLE_EQ(loads[0]->nice, 0.0);
  EXPECT_DOUBLE_EQ(loads[0]->userWithoutNice, 40.0);
  EXPECT_DOUBLE_EQ(loads[0]->total, 50.0);
}

TEST_F(MetricsTest, ProcessorWhoseCountersDidNotMoveHasNoLoad) {
  kernel::testing::setProcessorTicks(Ticks{ticks(5, 5, 5, 5), ticks(70, 80, 90, 0)});
  auto controller = std::make_shared<CPUInfoController>();
  kernel::testing::setProcessorTicks(Ticks{ticks(15, 5, 5, 5), ticks(70, 80, 90, 0)});
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 100.0);  // processor order is kept
  for (double value : {loads[1]->system, loads[1]->user, loads[1]->nice, loads[1]->systemWithoutNice,
                       loads[1]->userWithoutNice, loads[1]->total}) {
    EXPECT_EQ(value, 0.0);  // total 0 replaced by 1: no division by zero
  }
}

TEST_F(MetricsTest, ProcessorThatAppearsLaterIsMeasuredFromZero) {
  kernel::testing::setProcessorTicks(Ticks{ticks(0, 0, 0, 0)});
  auto controller = std::make_shared<CPUInfoController>();
  kernel::testing::setProcessorTicks(Ticks{ticks(10, 0, 10, 0), ticks(25, 0, 75, 0)});
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 50.0);
  EXPECT_DOUBLE_EQ(loads[1]->user, 25.0);
  EXPECT_EQ(controller->priorProcessorCount(), 2u);
}

TEST_F(MetricsTest, FailedQueryGivesTheFallbackAndLogsIt) {
  kernel::testing::setProcessorTicks(Ticks{ticks(1, 1, 1, 1), ticks(1, 1, 1, 1)});
  auto controller = std::make_shared<CPUInfoController>();
  kernel::testing::failQuery(Query::processorInfo, KERN_FAILURE);
  qvtest::LogLines log;
  EXPECT_TRUE(controller->calculateCPUUsage().empty());  // nothing says how many processors there are
  auto info = std::make_shared<CPUInfo>();
  info->activeCPUCount = 3;
  controller->setCpuInfo(info);
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 3u);
  for (const auto& load : loads) EXPECT_EQ(load->total, 0.0);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Throwing to error", "Throwing to error"}));

  // The previous sample survives a failed query.
  kernel::testing::failQuery(Query::processorInfo, KERN_SUCCESS);
  kernel::testing::setProcessorTicks(Ticks{ticks(2, 1, 2, 1), ticks(1, 1, 1, 1)});
  loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_DOUBLE_EQ(loads[0]->user, 50.0);
}

TEST_F(MetricsTest, FailedFirstSampleIsTakenAgainByTheNextCall) {
  kernel::testing::failQuery(Query::processorInfo, KERN_FAILURE);
  auto controller = std::make_shared<CPUInfoController>();
  EXPECT_FALSE(controller->priorProcessorCount().has_value());
  EXPECT_NE(controller->host(), MACH_PORT_NULL);
  EXPECT_NE(controller->processorSet(), MACH_PORT_NULL);

  kernel::testing::failQuery(Query::processorInfo, KERN_SUCCESS);
  kernel::testing::setProcessorTicks(Ticks{ticks(0, 0, 0, 0)});
  EXPECT_TRUE(controller->calculateCPUUsage().empty());  // no interval yet
  EXPECT_EQ(controller->priorProcessorCount(), 1u);
  kernel::testing::setProcessorTicks(Ticks{ticks(0, 3, 1, 0)});
  auto loads = controller->calculateCPUUsage();
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_DOUBLE_EQ(loads[0]->system, 75.0);
}

TEST_F(MetricsTest, MachineLoadsArePercentages) {
  auto controller = std::make_shared<CPUInfoController>();
  ASSERT_TRUE(controller->priorProcessorCount().has_value());
  auto loads = controller->calculateCPUUsage();
  EXPECT_EQ(loads.size(), *controller->priorProcessorCount());
  for (const auto& load : loads) {
    for (double value : {load->system, load->user, load->nice, load->systemWithoutNice, load->userWithoutNice}) {
      EXPECT_GE(value, 0.0);
      EXPECT_LE(value, 100.0);
    }
    EXPECT_NEAR(load->total, load->system + load->user + load->nice, 1e-9);
  }
}

// ---- logging entry ----

TEST_F(MetricsTest, ShowMemoryAndCpuStatsLogsWholeNumbers) {
  vm_statistics64 stats{};
  stats.active_count = 1;
  stats.inactive_count = 1;
  kernel::testing::setVMStatistics(stats);
  // The new controller's two samples: user +2, system +1, idle +3, nice +2 (of 8).
  kernel::testing::setProcessorTicks(Ticks{ticks(10, 10, 10, 10)});
  kernel::testing::queueProcessorTicks(Ticks{ticks(12, 11, 13, 12)});
  const std::uint64_t total = std::make_shared<RAMInfoController>()->getRAMTotal();

  qvtest::LogLines log;
  std::make_shared<Memory>()->showMemoryAndCpuStats();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                                "Used Ram 8192", "Free Ram " + std::to_string(total - 8192), "Processor Count is 1",
                                "User CPU Usage 25", "System CPU Usage 12", "App CPU Usage 25"}));
}

TEST_F(MetricsTest, ShowMemoryAndCpuStatsLogsZeroWhenMemoryIsUnknown) {
  kernel::testing::failQuery(Query::hostStatistics, KERN_FAILURE);
  kernel::testing::failQuery(Query::processorInfo, KERN_FAILURE);
  qvtest::LogLines log;
  std::make_shared<Memory>()->showMemoryAndCpuStats();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Used Ram 0", "Free Ram 0", "Throwing to error"}));
}

// ---- running average ----

TEST(CPULoadFilterTest, FilterLoadAveragesTheWholeHistory) {
  auto filter = std::make_shared<CPULoadFilter>();
  auto first = filter->filterLoad(makeLoad(10, 20, 30, 40, 50));
  EXPECT_DOUBLE_EQ(first->system, 10.0);
  EXPECT_DOUBLE_EQ(first->total, 60.0);

  filter->filterLoad(makeLoad(20, 40, 0, 60, 70));
  auto third = filter->filterLoad(makeLoad(30, 0, 60, 80, 90));
  EXPECT_DOUBLE_EQ(third->system, 20.0);
  EXPECT_DOUBLE_EQ(third->user, 20.0);
  EXPECT_DOUBLE_EQ(third->nice, 30.0);
  EXPECT_DOUBLE_EQ(third->systemWithoutNice, 60.0);
  EXPECT_DOUBLE_EQ(third->userWithoutNice, 70.0);
  EXPECT_DOUBLE_EQ(third->total, 70.0);
  EXPECT_EQ(filter->rawCpuLoadHistory().size(), 3u);

  // Sums are single precision.
  auto precise = std::make_shared<CPULoadFilter>()->filterLoad(makeLoad(0.1, 0, 0, 0, 0));
  EXPECT_EQ(precise->system, static_cast<double>(0.1f));
}

TEST(CPULoadFilterTest, AppendInsertsAtTheFrontAndKeepsABoundedHistory) {
  auto filter = std::make_shared<CPULoadFilter>();
  const std::size_t limit = CPULoadFilter::kRawCpuLoadHistoryLimit;
  for (std::size_t i = 0; i < limit + 5; ++i) filter->appendRawCpuLoad(makeLoad(double(i), 0, 0, 0, 0));
  auto history = filter->rawCpuLoadHistory();
  ASSERT_EQ(history.size(), limit);
  EXPECT_DOUBLE_EQ(history.front()->system, double(limit + 4));  // newest first
  EXPECT_DOUBLE_EQ(history.back()->system, 5.0);                 // the five oldest dropped
}

TEST(CPULoadFilterTest, NullLoadIsRefused) {
  auto filter = std::make_shared<CPULoadFilter>();
  EXPECT_THROW(filter->filterLoad(nullptr), objc::NSException);
  EXPECT_THROW(filter->appendRawCpuLoad(nullptr), objc::NSException);
  EXPECT_TRUE(filter->rawCpuLoadHistory().empty());
}

}  // namespace
