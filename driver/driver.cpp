#include "driver/driver.h"

#include <climits>
#include <cstdio>

#include "channel/connect.h"
#include "platform/os.h"

namespace pesolan {
namespace {

// Windows-1251 texts of the DeviceTest report.
constexpr const char* kWeightIs = "\xC2\xE5\xF1 \xF0\xE0\xE2\xE5\xED ";  // "Вес равен "
constexpr const char* kErrorPrefix = "\xCE\xF8\xE8\xE1\xEA\xE0: ";       // "Ошибка: "
// "; Проверьте подключение весов и их настройки."
constexpr const char* kCheckScaleHint =
    "; \xCF\xF0\xEE\xE2\xE5\xF0\xFC\xF2\xE5 \xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xE8\xE5 "
    "\xE2\xE5\xF1\xEE\xE2 \xE8 \xE8\xF5 \xED\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8.";
// By WeightUnit: none, " мг.", " г.", " кг.", " т.".
constexpr const char* kUnitSuffix[] = {"", " \xEC\xE3.", " \xE3.", " \xEA\xE3.", " \xF2."};

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t DeviceNumberOf(const char* text) {
  while (IsBlank(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + (*text - '0');
    if (n > INT_MAX) return 0;  // no device has such a number
  }
  return static_cast<int32_t>(negative ? -n : n);
}

std::u16string ScaleDriver::Parameters() {
  int32_t ports[os::kMaxPort];
  const int count = ProbePorts(ports);
  return SettingsDocument(ports, count);
}

void ScaleDriver::UpdateLastError(const DeviceEntry& entry) {
  if (GetError(*entry.handle) != NoError) {
    devices.lastError.TakeFrom(*entry.handle);
  } else {
    devices.lastError.Clear();
  }
}

int32_t ScaleDriver::ReportedUnit(const DeviceEntry& entry, const WeightReading& reading) {
  return entry.unit != Unit_AsOnScale ? entry.unit : reading.unit;
}

bool ScaleDriver::DeviceTest(char* report) {
  report[0] = '\0';
  int32_t temporary = 0;
  if (devices.currentDevice == -1) temporary = devices.OpenDevice(settings);
  DeviceEntry* entry = devices.currentDevice == -1 ? nullptr : devices.FindDevice(devices.currentDevice);
  bool ok = false;
  if (entry != nullptr) {
    char weight[kWeightTextSize] = {};
    WeightReading reading;
    ok = ReadWeight({*entry->handle, entry->tare, entry->unit}, settings.allowUnstable != 0, devices.lastError,
                    nullptr, weight, &reading);
    if (ok) {
      const int32_t unit = ReportedUnit(*entry, reading);
      const char* suffix = unit >= 1 && unit <= 4 ? kUnitSuffix[unit] : "";
      std::snprintf(report, kReportSize, "%s%s%s", kWeightIs, weight, suffix);
    } else {
      char message[kMessageSize];
      int32_t number = 0;
      const int32_t code = GetError(*entry->handle, message, &number);
      std::snprintf(report, kReportSize, "%s%d %s%s", kErrorPrefix, static_cast<int>(number), message,
                    code == No_Data_From_Scale ? kCheckScaleHint : "");
    }
    UpdateLastError(*entry);
  }
  if (temporary != 0) devices.CloseDevice(temporary);
  return ok;
}

bool ScaleDriver::Calibrate(int32_t number) {
  DeviceEntry* entry = devices.FindDevice(number);
  if (entry == nullptr || GetError(*entry->handle) != NoError) return false;
  RecordTareNotSupported(*entry->handle);
  devices.lastError.TakeFrom(*entry->handle);
  return false;
}

bool ScaleDriver::GetWeight(int32_t number, double* weight) {
  DeviceEntry* entry = devices.FindDevice(number);
  if (entry == nullptr) return false;
  double value = 0.0;
  const bool ok = ReadWeight({*entry->handle, entry->tare, entry->unit}, settings.allowUnstable != 0,
                             devices.lastError, &value, nullptr);
  if (ok) *weight = value;
  UpdateLastError(*entry);
  return ok;
}

}  // namespace pesolan
