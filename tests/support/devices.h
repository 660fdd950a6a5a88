#pragma once
// Settings and helpers for opening devices against scale-sim.

#include <cstdio>
#include <string>

#include "channel/connect.h"
#include "channel/decimal_separator.h"
#include "channel/device_errors.h"
#include "channel/slot_table.h"
#include "support/mapped_ports.h"
#include "support/sim_process.h"

namespace testing_support {

inline pesolan::ChannelSettings TcpSettings(int port, const char* host = "127.0.0.1") {
  pesolan::ChannelSettings s;
  s.connType = 2;
  s.tcpPort = port;
  std::string(host).copy(s.ip, sizeof s.ip - 1);
  return s;
}

inline pesolan::ChannelSettings SerialSettings(int rsPort) {
  pesolan::ChannelSettings s;
  s.connType = 1;
  s.rsPort = rsPort;
  return s;
}

// The port number under which tests place a simulated serial scale.
constexpr int kSimPort = 7;

inline int SlotOf(const pesolan::DeviceHandle& h) { return pesolan::FindSlot(h.key); }

}  // namespace testing_support
