#pragma once
// The driver's error vocabulary: codes, their Russian messages (Windows-1251
// text) and the driver error numbers that the application sees.

#include <cstdint>

namespace pesolan {

enum ErrReference : int32_t {
  NoError = 0,
  Too_Many_Instances = 1,
  Channel_Settings_Error = 2,
  No_Serial_Ports = 3,
  Port_Open_Error = 4,
  Tcp_Connect_Error = 5,
  No_Data_From_Scale = 6,
  Unknown_Data = 8,
  Tare_Not_Supported = 9,
  Weight_Not_Stable = 10,
};

// Room for a message and its terminating NUL, in bytes.
constexpr int kMessageSize = 260;

// The Windows-1251 message of a code; empty for NoError and unknown codes.
const char* ErrorMessage(int32_t code);
// 100 plus the code for a known error code, 0 otherwise.
int32_t DriverErrorNumber(int32_t code);

}  // namespace pesolan
