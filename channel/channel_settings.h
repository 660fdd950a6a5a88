#pragma once
// The channel part of a device's configuration: which channel, and the
// serial line or the TCP address it is opened with.

#include <cstdint>

namespace pesolan {

constexpr int kIpSize = 16;  // 15 characters and the NUL

enum ChannelKind : int32_t { Channel_None = 0, Serial = 1, Tcp = 2 };

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

}  // namespace pesolan
