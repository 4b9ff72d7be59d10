// Descriptive data of the device model (name, processor, graphics, memory,
// battery, screen) from a built-in table, chosen by the hardware machine
// identifier that a caller supplies ("iPhone7,2").
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "objc/runtime.h"

class DeviceModelTable : public objc::Object {
  QV_OBJC_DECLARE_CLASS(DeviceModelTable)
 public:
  static constexpr std::int32_t kRowCount = 42;
  // The row of every device the mapping does not list.
  static constexpr std::int32_t kUnknownDeviceRow = 41;

  // The one shared table, created on the first call (safe from any thread).
  static std::shared_ptr<DeviceModelTable> sharedDeviceData();

  // Looks the identifier up and makes its row the current one.
  void setHwMachine(const std::optional<std::string>& hwMachine);
  // The row of a machine identifier: exact, case-sensitive; kUnknownDeviceRow for
  // any other identifier and for an absent one.
  std::int32_t hwMachineToIdevice(const std::optional<std::string>& hwMachine) const;

  // The current row's value in each column. A current row outside the table reads
  // as kUnknownDeviceRow.
  std::string getiDeviceName() const;
  std::string getCPUName() const;
  std::uint64_t getCPUFrequency() const;  // MHz
  std::string getCoprocessorName() const;
  std::string getGraphicCardName() const;
  std::string getRAMType() const;
  std::uint64_t getBatteryCapacity() const;  // mAh
  float getBatteryVoltage() const;           // V
  float getScreenSize() const;               // inches, diagonal
  std::uint64_t getPPI() const;
  std::string getAspectRatio() const;

  std::int32_t iDevice() const { return iDevice_.load(); }
  void setIDevice(std::int32_t row) { iDevice_.store(row); }

 private:
  std::size_t currentRow() const;

  std::atomic<std::int32_t> iDevice_{0};
};
