// The stream and request dialogue fed arbitrary bytes through a stand-in
// channel: it always ends (in virtual time), and leaves either a complete
// reading or a reset one.

#include <cstdint>
#include <cstdlib>

#include "channel/device_errors.h"
#include "channel/slot_table.h"
#include "fake_channel.h"
#include "fake_os.h"
#include "protocol/exchange.h"

using namespace pesolan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ResetSlotTable();
  DeviceHandle device;
  DeviceSlot& slot = SlotTable[0];
  slot.key = device.key;
  slot.ready = true;
  slot.channelKind = (data[0] & 1) ? Serial : Tcp;
  slot.errorCode = (data[0] & 2) ? Unknown_Data : ((data[0] & 4) ? Tare_Not_Supported : NoError);
  const int32_t pending = slot.errorCode;
  fuzzing::PlayScale(data + 1, size - 1);
  const uint32_t start = fuzzing::g_now;
  WeightReading r{Stability_Stable, 1, 1, 9.5, Unit_Tonne};  // a reset shows
  const bool read = ExchangeWeight(device, &r);
  // Each received byte costs a millisecond here, so a dialogue may take as
  // long as its input; without bytes it must end within the protocol's waits.
  if (fuzzing::g_now - start > 3000 + size) std::abort();
  if (read) {
    if (r.stability < 1 || r.stability > 2 || r.unit < 2 || r.unit > 4) std::abort();
    if (slot.errorCode != (pending == Unknown_Data ? NoError : pending)) std::abort();
  } else {
    if (r.stability != 0 || r.unit != 0 || r.value != 0.0) std::abort();
    if (slot.errorCode != pending && !(pending == NoError && slot.errorCode == Unknown_Data)) std::abort();
  }
  return 0;
}
