#include "protocol/reading.h"

#include <cstring>

#include "channel/io.h"
#include "channel/trace.h"
#include "protocol/exchange.h"

namespace pesolan {
namespace {

// The reading's outcome, in the device's trace.
void TraceResult(const DeviceHandle& handle, const char* weight, const char* note) {
  const int index = ChannelIndex(handle);
  if (!Tracing(index)) return;
  Trace(index, "result: %s%s, error %d", weight, note, static_cast<int>(DriverErrorNumber(GetError(handle))));
}

bool Failed(const DeviceHandle& handle, ErrorRecord& lastError, double* number) {
  TraceResult(handle, "no weight", "");
  lastError.TakeFrom(handle);
  if (number != nullptr) *number = 0.0;
  return false;
}

}  // namespace

bool ReadWeight(const WeightSource& device, bool allowUnstable, ErrorRecord& lastError, double* number,
                char* text, WeightReading* parsed) {
  DeviceHandle& handle = device.handle;
  // The reading's result belongs to the exchange's trace.
  const TraceScope trace(ChannelIndex(handle));
  WeightReading reading;
  const bool exchanged = ExchangeWeight(handle, &reading);
  if (parsed != nullptr) *parsed = reading;
  if (!exchanged) {
    RecordError(handle, No_Data_From_Scale);
    return Failed(handle, lastError, number);
  }
  const double net = reading.value - static_cast<double>(device.tare);
  FormattedWeight weight{};
  if (!FormatWeight(ConvertWeight(net, reading.unit, device.unit), reading, device.unit, &weight)) {
    // A weight too large for its text is data the driver cannot use: the
    // exchange's code for it, so the next good reading clears it.
    RecordUnknownData(handle);
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
  TraceResult(handle, weight.text, usable ? "" : " (refused: unstable)");
  if (number != nullptr) *number = weight.number;
  if (text != nullptr) std::memcpy(text, weight.text, std::strlen(weight.text));
  return usable;
}

}  // namespace pesolan
