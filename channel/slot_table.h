#pragma once
// The process-wide table of 256 device slots, shared by every component
// object of the process, and the decimal separator that lives beside it.

#include <cstdint>

#include "channel/weight_reading.h"
#include "platform/os.h"

namespace pesolan {

constexpr int kSlotCount = 256;
constexpr int kIpSize = 16;  // 15 characters and the NUL

enum ChannelKind : int32_t { Channel_None = 0, Serial = 1, Tcp = 2 };

// The channel part of a device's configuration.
struct ChannelSettings {
  int32_t connType = 0;  // 1 RS-232, 2 TCP client
  int32_t rsPort = 0;    // COM1 is 1
  int32_t tcpPort = 0;
  int32_t baudRate = 9600;
  uint8_t parity = 0;    // Windows coding: 0 none, 2 even
  uint8_t byteSize = 8;
  uint8_t stopBits = 0;  // Windows coding: 0 is one stop bit
  char ip[kIpSize] = {};
};

struct DeviceSlot {
  int32_t key = 0;  // 0: the slot is free
  int32_t errorCode = 0;
  ChannelSettings settings;
  os::SerialPort comHandle = nullptr;
  bool ready = false;
  os::Socket socket = os::kNoSocket;
  int32_t channelKind = Channel_None;
  WeightReading lastReading;
};

extern DeviceSlot SlotTable[kSlotCount];
// '.' or ',': what the C runtime's text-to-number conversion accepts under
// the current locale. Set each time a channel opens.
extern char DecimalSeparator;

// Sets every slot to its defaults (done once when the library is loaded).
void ResetSlotTable();
// Index of the first slot whose key equals key, or -1. Key 0 finds the
// lowest free slot.
int FindSlot(int32_t key);

}  // namespace pesolan
