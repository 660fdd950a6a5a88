#include "protocol/reading.h"

#include <cstring>

#include "channel/slot_table.h"
#include "protocol/exchange.h"

namespace pesolan {
namespace {

bool Failed(const DeviceHandle& handle, ErrorRecord& lastError, double* number) {
  lastError.TakeFrom(handle);
  if (number != nullptr) *number = 0.0;
  return false;
}

}  // namespace

bool ReadWeight(const WeightSource& device, bool allowUnstable, ErrorRecord& lastError, double* number,
                char* text) {
  DeviceHandle& handle = device.handle;
  if (!ExchangeWeight(handle)) {
    RecordError(handle, No_Data_From_Scale);
    return Failed(handle, lastError, number);
  }
  const int index = FindSlot(handle.key);
  const WeightReading reading = index >= 0 ? SlotTable[index].lastReading : WeightReading{};
  const float net = reading.value - device.tare;
  FormattedWeight weight{};
  if (!FormatWeight(ConvertWeight(static_cast<double>(net), reading.unit, device.unit), reading, device.unit,
                    &weight)) {
    // A weight too large for its text is data the driver cannot use; the
    // code goes into the slot like the exchange's, so the next good reading
    // clears it.
    if (index >= 0 && GetError(handle) == NoError) SlotTable[index].errorCode = Unknown_Data;
    return Failed(handle, lastError, number);
  }
  if (GetError(handle) == No_Data_From_Scale) {
    ClearError(handle, No_Data_From_Scale);
    lastError.Clear();
  }
  bool usable = true;
  if (!allowUnstable) {
    if (reading.stability == Stability_Unstable) {
      RecordError(handle, Weight_Not_Stable);
      lastError.TakeFrom(handle);
      usable = false;
    } else if (GetError(handle) == Weight_Not_Stable) {
      ClearError(handle, Weight_Not_Stable);
      lastError.Clear();
    }
  }
  if (number != nullptr) *number = weight.number;
  if (text != nullptr) std::memcpy(text, weight.text, std::strlen(weight.text));
  return usable;
}

}  // namespace pesolan
