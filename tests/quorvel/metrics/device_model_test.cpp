#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "quorvel/metrics/DeviceModelTable.h"

namespace {

struct Row {
  const char* name;
  const char* cpu;
  std::uint64_t mhz;
  const char* coprocessor;
  const char* graphics;
  const char* ram;
  std::uint64_t mAh;
  float volts;
  float inches;
  std::uint64_t ppi;
  const char* aspect;
};

void expectRow(const DeviceModelTable& table, const Row& row) {
  SCOPED_TRACE(row.name);
  EXPECT_EQ(table.getiDeviceName(), row.name);
  EXPECT_EQ(table.getCPUName(), row.cpu);
  EXPECT_EQ(table.getCPUFrequency(), row.mhz);
  EXPECT_EQ(table.getCoprocessorName(), row.coprocessor);
  EXPECT_EQ(table.getGraphicCardName(), row.graphics);
  EXPECT_EQ(table.getRAMType(), row.ram);
  EXPECT_EQ(table.getBatteryCapacity(), row.mAh);
  EXPECT_FLOAT_EQ(table.getBatteryVoltage(), row.volts);
  EXPECT_FLOAT_EQ(table.getScreenSize(), row.inches);
  EXPECT_EQ(table.getPPI(), row.ppi);
  EXPECT_EQ(table.getAspectRatio(), row.aspect);
}

const Row kUnknown{"Unknown", "Unknown", 0, "Unknown", "Unknown", "Unknown", 0, 0.0f, 0.0f, 0, "0:0"};

TEST(DeviceModelTable, EveryListedIdentifierGivesItsRow) {
  const std::vector<std::pair<std::string, int>> mapping = {
      {"iPhone1,1", 0},  {"iPhone1,2", 1},  {"iPhone2,1", 2},  {"iPhone3,1", 3},  {"iPhone3,3", 4},
      {"iPhone4,1", 5},  {"iPhone5,1", 6},  {"iPhone5,2", 7},  {"iPhone5,3", 8},  {"iPhone5,4", 8},
      {"iPhone6,1", 9},  {"iPhone6,2", 9},  {"iPhone7,2", 10}, {"iPhone7,1", 11}, {"iPhone8,1", 12},
      {"iPhone8,2", 13}, {"iPod1,1", 14},   {"iPod2,1", 15},   {"iPod3,1", 16},   {"iPod4,1", 17},
      {"iPod5,1", 18},   {"iPad1,1", 19},   {"iPad2,1", 20},   {"iPad2,2", 21},   {"iPad2,3", 22},
      {"iPad2,4", 22},   {"iPad2,5", 34},   {"iPad2,6", 35},   {"iPad2,7", 36},   {"iPad3,1", 23},
      {"iPad3,2", 24},   {"iPad3,3", 25},   {"iPad3,4", 26},   {"iPad3,5", 27},   {"iPad3,6", 28},
      {"iPad4,1", 29},   {"iPad4,2", 30},   {"iPad5,3", 31},   {"iPad5,4", 32},   {"iPad6,8", 33},
      {"iPad4,4", 37},   {"iPad4,5", 38},   {"iPad4,7", 39},   {"iPad4,8", 40}};
  auto table = std::make_shared<DeviceModelTable>();
  std::set<int> rowsReached;
  for (const auto& [machine, row] : mapping) {
    EXPECT_EQ(table->hwMachineToIdevice(machine), row) << machine;
    table->setHwMachine(machine);
    EXPECT_EQ(table->iDevice(), row) << machine;
    rowsReached.insert(row);
  }
  EXPECT_EQ(rowsReached.size(), 41u);  // every row but the unknown one

  table->setHwMachine("iPhone7,2");
  EXPECT_EQ(table->getiDeviceName(), "iPhone 6");
  table->setHwMachine("iPhone7,1");
  EXPECT_EQ(table->getiDeviceName(), "iPhone 6 Plus");
  table->setHwMachine("iPad2,5");
  EXPECT_EQ(table->getiDeviceName(), "iPad Mini (WiFi)");
}

TEST(DeviceModelTable, RowsHoldEveryColumn) {
  auto table = std::make_shared<DeviceModelTable>();
  const std::vector<std::pair<int, Row>> rows = {
      {0, {"iPhone 1G", "ARM 1176JZ", 412, "N/A", "PowerVR MBX Lite", "LPDDR DRAM", 1400, 3.7f, 3.5f, 163, "3:2"}},
      {9, {"iPhone 5S", "Apple A7", 1300, "Apple M7 motion", "PowerVR G6430", "LPDDR3 DRAM", 1570, 3.8f, 4.0f, 326,
           "16:9"}},
      {11, {"iPhone 6 Plus", "Apple A8", 1400, "Apple M8 motion", "PowerVR GX6450", "LPDDR3 DRAM", 2915, 3.82f, 5.5f,
            401, "16:9"}},
      {18, {"iPod Touch 5", "Apple A5", 1000, "N/A", "PowerVR MBX Lite", "LPDDR2 DRAM", 1030, 3.8f, 4.0f, 326,
            "16:9"}},
      {26, {"iPad 4 (WiFi)", "Apple Swift", 1400, "N/A", "PowerVR SGX554MP4", "LPDDR2 DRAM", 11560, 3.7f, 9.7f, 264,
            "4:3"}},
      {33, {"iPad Pro", "Apple A9X", 2260, "Apple M9 motion", "PowerVR Series 7XT", "LPDDR4 DRAM", 10307, 3.77f, 12.9f,
            264, "4:3"}},
      {40, {"iPad Mini 3 (Cellular)", "Apple A7", 1300, "Apple M7 motion", "PowerVR G6430", "LPDDR3 DRAM", 6471, 3.75f,
            7.9f, 326, "4:3"}},
      {41, kUnknown}};
  for (const auto& [index, row] : rows) {
    table->setIDevice(index);
    expectRow(*table, row);
  }

  // Every listed row is a described device with a name of its own.
  std::set<std::string> names;
  for (int row = 0; row < DeviceModelTable::kUnknownDeviceRow; ++row) {
    table->setIDevice(row);
    names.insert(table->getiDeviceName());
    EXPECT_GT(table->getCPUFrequency(), 0u) << row;
    EXPECT_GT(table->getBatteryCapacity(), 0u) << row;
    EXPECT_GT(table->getPPI(), 0u) << row;
    EXPECT_GT(table->getScreenSize(), 3.0f) << row;
    EXPECT_NE(table->getAspectRatio(), "0:0") << row;
  }
  EXPECT_EQ(names.size(), 41u);
}

TEST(DeviceModelTable, CaseSpaceAndAbsentVariantsAreUnknown) {
  auto table = std::make_shared<DeviceModelTable>();
  for (std::optional<std::string> machine :
       {std::optional<std::string>("iphone7,2"), std::optional<std::string>("IPHONE7,2"),
        std::optional<std::string>(" iPhone7,2"), std::optional<std::string>("iPhone7,2 "),
        std::optional<std::string>("iPhone 7,2"), std::optional<std::string>("iPad4,3"),
        std::optional<std::string>(""), std::optional<std::string>()}) {
    table->setIDevice(10);
    table->setHwMachine(machine);
    EXPECT_EQ(table->iDevice(), DeviceModelTable::kUnknownDeviceRow) << machine.value_or("(absent)");
    expectRow(*table, kUnknown);
  }
}

TEST(DeviceModelTable, NewTableDescribesTheFirstRow) {
  auto table = std::make_shared<DeviceModelTable>();
  EXPECT_EQ(table->iDevice(), 0);
  EXPECT_EQ(table->getiDeviceName(), "iPhone 1G");
  EXPECT_EQ(table->getCPUFrequency(), 412u);
}

TEST(DeviceModelTable, RowOutsideTheTableReadsAsUnknown) {
  auto table = std::make_shared<DeviceModelTable>();
  for (int row : {-1, 42, 1000}) {
    table->setIDevice(row);
    EXPECT_EQ(table->iDevice(), row);
    expectRow(*table, kUnknown);
  }
}

TEST(DeviceModelTable, IsARuntimeClass) {
  auto table = objc::Class::named("DeviceModelTable")->createInstance();
  ASSERT_NE(objc::cast<DeviceModelTable>(table), nullptr);
  EXPECT_TRUE(table->isKindOfClass("NSObject"));
}

}  // namespace
