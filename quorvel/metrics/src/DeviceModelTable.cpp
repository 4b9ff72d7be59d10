#include "quorvel/metrics/DeviceModelTable.h"

#include <string_view>

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(DeviceModelTable, objc::Object)

namespace {

constexpr std::size_t kRows = DeviceModelTable::kRowCount;

// The device table: one array per column, indexed by row.
constexpr const char* const iDeviceNameTable[kRows] = {
    "iPhone 1G", "iPhone 3G", "iPhone 3GS", "iPhone 4", "Verizon iPhone 4", "iPhone 4S", "iPhone 5 (GSM)",
    "iPhone 5 (CDMA)", "iPhone 5C", "iPhone 5S", "iPhone 6", "iPhone 6 Plus", "iPhone 6S", "iPhone 6S Plus",
    "iPod Touch 1G", "iPod Touch 2G", "iPod Touch 3G", "iPod Touch 4G", "iPod Touch 5", "iPad 1",
    "iPad 2 (WiFi)", "iPad 2 (CDMA)", "iPad 2 (GSM)", "iPad 3 (WiFi)", "iPad 3 (GSM)", "iPad 3 (CDMA)",
    "iPad 4 (WiFi)", "iPad 4 (GSM)", "iPad 4 (CDMA)", "iPad Air", "iPad Air (Cellular)", "iPad Air 2",
    "iPad Air 2 (Cellular)", "iPad Pro", "iPad Mini (WiFi)", "iPad Mini (GSM)", "iPad Mini (CDMA)",
    "iPad Mini 2", "iPad Mini 2 (Cellular)", "iPad Mini 3", "iPad Mini 3 (Cellular)", "Unknown",
};
constexpr const char* const CPUNameTable[kRows] = {
    "ARM 1176JZ", "ARM 1176JZ", "ARM Cortex-A8", "Apple A4", "Apple A4", "Apple A5", "Apple A6", "Apple A6",
    "Apple A6", "Apple A7", "Apple A8", "Apple A8", "Apple A9", "Apple A9", "ARM 1176JZ", "ARM 1176JZ",
    "ARM Cortex-A8", "ARM Cortex-A8", "Apple A5", "ARM Cortex-A8", "ARM Cortex-A9", "ARM Cortex-A9",
    "ARM Cortex-A9", "ARM Cortex-A9", "ARM Cortex-A9", "ARM Cortex-A9", "Apple Swift", "Apple Swift",
    "Apple Swift", "Apple A7", "Apple A7", "Apple A8X", "Apple A8X", "Apple A9X", "ARM Cortex-A9",
    "ARM Cortex-A9", "ARM Cortex-A9", "Apple A7", "Apple A7", "Apple A7", "Apple A7", "Unknown",
};
constexpr std::uint64_t CPUFrequencyTable[kRows] = {
    412, 620, 600, 800, 800, 800, 1300, 1300, 1000, 1300, 1400, 1400, 1850, 1850, 400, 533, 600, 800, 1000,
    1000, 1000, 1000, 1000, 1000, 1000, 1000, 1400, 1400, 1400, 1400, 1400, 1500, 1500, 2260, 1000, 1000,
    1000, 1300, 1300, 1300, 1300, 0,
};
constexpr const char* const CoprocessorNameTable[kRows] = {
    "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "Apple M7 motion", "Apple M8 motion",
    "Apple M8 motion", "Apple M9 motion", "Apple M9 motion", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A",
    "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "Apple M7 motion", "Apple M7 motion",
    "Apple M8 motion", "Apple M8 motion", "Apple M9 motion", "N/A", "N/A", "N/A", "Apple M7 motion",
    "Apple M7 motion", "Apple M7 motion", "Apple M7 motion", "Unknown",
};
constexpr const char* const GraphicCardNameTable[kRows] = {
    "PowerVR MBX Lite", "PowerVR MBX Lite", "PowerVR SGX535", "PowerVR SGX535", "PowerVR SGX535",
    "PowerVR SGX543", "PowerVR SGX543MP3", "PowerVR SGX543MP3", "PowerVR SGX543MP3", "PowerVR G6430",
    "PowerVR GX6450", "PowerVR GX6450", "PowerVR GT6700", "PowerVR GT6700", "PowerVR MBX Lite",
    "PowerVR MBX Lite", "PowerVR MBX Lite", "PowerVR MBX Lite", "PowerVR MBX Lite", "PowerVR SGX535",
    "PowerVR SGX543MP2", "PowerVR SGX543MP2", "PowerVR SGX543MP2", "PowerVR SGX543MP4", "PowerVR SGX543MP4",
    "PowerVR SGX543MP4", "PowerVR SGX554MP4", "PowerVR SGX554MP4", "PowerVR SGX554MP4", "PowerVR G6430",
    "PowerVR G6430", "PowerVR GXA6850", "PowerVR GXA6850", "PowerVR Series 7XT", "PowerVR SGX543MP2",
    "PowerVR SGX543MP2", "PowerVR SGX543MP2", "PowerVR G6430", "PowerVR G6430", "PowerVR G6430",
    "PowerVR G6430", "Unknown",
};
constexpr const char* const RAMTypeTable[kRows] = {
    "LPDDR DRAM", "LPDDR DRAM", "LPDDR DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM",
    "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR4 DRAM", "LPDDR4 DRAM",
    "LPDDR DRAM", "LPDDR DRAM", "LPDDR DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR DRAM", "LPDDR2 DRAM",
    "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR2 DRAM",
    "LPDDR2 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR4 DRAM", "LPDDR2 DRAM",
    "LPDDR2 DRAM", "LPDDR2 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "LPDDR3 DRAM", "Unknown",
};
constexpr std::uint64_t BatteryCapacityTable[kRows] = {
    1400, 1150, 1219, 1420, 1420, 1430, 1440, 1440, 1507, 1570, 1810, 2915, 1715, 2750, 789, 789, 930, 930,
    1030, 6613, 6930, 6930, 6930, 11560, 11560, 11560, 11560, 11560, 11560, 8827, 8827, 7340, 7340, 10307,
    4440, 4440, 4440, 6471, 6471, 6471, 6471, 0,
};
constexpr float BatteryVoltageTable[kRows] = {
    3.7f, 3.7f, 3.7f, 3.7f, 3.7f, 3.7f, 3.8f, 3.8f, 3.8f, 3.8f, 3.82f, 3.82f, 3.82f, 3.8f, 3.7f, 3.7f, 3.7f,
    3.7f, 3.8f, 3.75f, 3.8f, 3.8f, 3.8f, 3.7f, 3.7f, 3.7f, 3.7f, 3.7f, 3.7f, 3.73f, 3.73f, 3.76f, 3.76f,
    3.77f, 3.72f, 3.72f, 3.72f, 3.75f, 3.75f, 3.75f, 3.75f, 0.0f,
};
constexpr float ScreenSizeTable[kRows] = {
    3.5f, 3.5f, 3.5f, 3.5f, 3.5f, 3.5f, 4.0f, 4.0f, 4.0f, 4.0f, 4.7f, 5.5f, 4.7f, 5.5f, 3.5f, 3.5f, 3.5f,
    3.5f, 4.0f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 9.7f, 12.9f,
    7.9f, 7.9f, 7.9f, 7.9f, 7.9f, 7.9f, 7.9f, 0.0f,
};
constexpr std::uint64_t ScreenPPITable[kRows] = {
    163, 163, 163, 326, 326, 326, 326, 326, 326, 326, 326, 401, 326, 401, 163, 163, 163, 326, 326, 132, 132,
    132, 132, 264, 264, 264, 264, 264, 264, 264, 264, 264, 264, 264, 163, 163, 163, 326, 326, 326, 326, 0,
};
constexpr const char* const AspectRatioTable[kRows] = {
    "3:2", "3:2", "3:2", "3:2", "3:2", "3:2", "16:9", "16:9", "16:9", "16:9", "16:9", "16:9", "16:9", "16:9",
    "3:2", "3:2", "3:2", "3:2", "16:9", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3",
    "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "4:3", "0:0",
};

struct MachineRow {
  std::string_view hwMachine;
  std::int32_t row;
};

// Machine identifier to row, tested in this order. Some identifiers share a row,
// and the rows do not follow the identifiers' order.
constexpr MachineRow kMachineRows[] = {
  {"iPhone1,1", 0},
  {"iPhone1,2", 1},
  {"iPhone2,1", 2},
  {"iPhone3,1", 3},
  {"iPhone3,3", 4},
  {"iPhone4,1", 5},
  {"iPhone5,1", 6},
  {"iPhone5,2", 7},
  {"iPhone5,3", 8},
  {"iPhone5,4", 8},
  {"iPhone6,1", 9},
  {"iPhone6,2", 9},
  {"iPhone7,2", 10},
  {"iPhone7,1", 11},
  {"iPhone8,1", 12},
  {"iPhone8,2", 13},
  {"iPod1,1", 14},
  {"iPod2,1", 15},
  {"iPod3,1", 16},
  {"iPod4,1", 17},
  {"iPod5,1", 18},
  {"iPad1,1", 19},
  {"iPad2,1", 20},
  {"iPad2,2", 21},
  {"iPad2,3", 22},
  {"iPad2,4", 22},
  {"iPad2,5", 34},
  {"iPad2,6", 35},
  {"iPad2,7", 36},
  {"iPad3,1", 23},
  {"iPad3,2", 24},
  {"iPad3,3", 25},
  {"iPad3,4", 26},
  {"iPad3,5", 27},
  {"iPad3,6", 28},
  {"iPad4,1", 29},
  {"iPad4,2", 30},
  {"iPad5,3", 31},
  {"iPad5,4", 32},
  {"iPad6,8", 33},
  {"iPad4,4", 37},
  {"iPad4,5", 38},
  {"iPad4,7", 39},
  {"iPad4,8", 40},
};

}  // namespace

std::shared_ptr<DeviceModelTable> DeviceModelTable::sharedDeviceData() {
  static dispatch_once_t once;
  static std::shared_ptr<DeviceModelTable>* shared = nullptr;
  dispatch_once(&once, [] { shared = new std::shared_ptr<DeviceModelTable>(std::make_shared<DeviceModelTable>()); });
  return *shared;
}

void DeviceModelTable::setHwMachine(const std::optional<std::string>& hwMachine) {
  setIDevice(hwMachineToIdevice(hwMachine));
}

std::int32_t DeviceModelTable::hwMachineToIdevice(const std::optional<std::string>& hwMachine) const {
  if (!hwMachine) return kUnknownDeviceRow;
  for (const MachineRow& entry : kMachineRows) {
    if (entry.hwMachine == *hwMachine) return entry.row;
  }
  return kUnknownDeviceRow;
}

std::size_t DeviceModelTable::currentRow() const {
  const std::int32_t row = iDevice();
  return row >= 0 && row < kRowCount ? static_cast<std::size_t>(row) : static_cast<std::size_t>(kUnknownDeviceRow);
}

std::string DeviceModelTable::getiDeviceName() const { return iDeviceNameTable[currentRow()]; }
std::string DeviceModelTable::getCPUName() const { return CPUNameTable[currentRow()]; }
std::uint64_t DeviceModelTable::getCPUFrequency() const { return CPUFrequencyTable[currentRow()]; }
std::string DeviceModelTable::getCoprocessorName() const { return CoprocessorNameTable[currentRow()]; }
std::string DeviceModelTable::getGraphicCardName() const { return GraphicCardNameTable[currentRow()]; }
std::string DeviceModelTable::getRAMType() const { return RAMTypeTable[currentRow()]; }
std::uint64_t DeviceModelTable::getBatteryCapacity() const { return BatteryCapacityTable[currentRow()]; }
float DeviceModelTable::getBatteryVoltage() const { return BatteryVoltageTable[currentRow()]; }
float DeviceModelTable::getScreenSize() const { return ScreenSizeTable[currentRow()]; }
std::uint64_t DeviceModelTable::getPPI() const { return ScreenPPITable[currentRow()]; }
std::string DeviceModelTable::getAspectRatio() const { return AspectRatioTable[currentRow()]; }
