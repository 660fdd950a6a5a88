#pragma once
// The driver's commands behind the twelve methods, in the component's own
// terms: 8-bit (Windows-1251) texts, device numbers and plain results. The
// add-in layer turns the host's variants into these and back.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "channel/decimal_separator.h"
#include "driver/device_registry.h"
#include "driver/documents.h"
#include "driver/settings.h"

namespace pesolan {

constexpr int32_t kInterfaceRevision = 3003;
constexpr size_t kReportSize = 5096;  // DeviceTest report, 8-bit, NUL included
constexpr size_t kShortIdLength = 15;  // device identifier of GetWeight
constexpr size_t kLongIdLength = 23;   // device identifier of Close, Calibrate

// A device identifier read as the C runtime's atoi does (blanks, a sign,
// digits up to the first other character); 0 when it names no number.
int32_t DeviceNumberOf(const char* text);

// Runs change, a call that sets the process's locale, in turn with every
// other such call of the library and with the look an open takes at it.
template <typename Change>
void ChangeProcessLocale(Change change) {
  const std::lock_guard<std::mutex> turn(LocaleTurns());
  change();
}

class ScaleDriver {
 public:
  // Probes the serial ports and builds the settings page.
  std::u16string Parameters();
  bool SetParameter(int index, const ParameterValue& value) {
    return StoreParameter(settings, index, value);
  }
  // The new device's number, or 0 when all 8 entries are in use.
  int32_t Open() { return devices.OpenDevice(settings); }
  bool Close(int32_t number) { return devices.CloseDevice(number); }
  // Reads the most recently opened device (or a temporary one) and writes
  // the report into report (kReportSize bytes). The report stays empty when
  // there was no device to test.
  bool DeviceTest(char* report);
  bool Calibrate(int32_t number);
  bool GetWeight(int32_t number, double* weight);
  const ErrorRecord& lastError() const { return devices.lastError; }
  // Lets go of every device the component still holds.
  void ReleaseDevices() { devices.ReleaseAll(); }

  ConnectionSettings settings;
  DeviceRegistry devices;

 private:
  void UpdateLastError(const DeviceEntry& entry);
  static int32_t ReportedUnit(const DeviceEntry& entry, const WeightReading& reading);
};

}  // namespace pesolan
