#pragma once
// scale-sim.exe, started beside the host, for as long as the object lives.

#include "kernel32.h"

class Sim {
 public:
  // args: scale-sim's arguments after --tcp, such as L"--mode request".
  explicit Sim(const wchar_t* args);
  ~Sim() { Stop(); }
  // The loopback TCP port it listens on; 0 when it did not start.
  long port() const { return port_; }
  // Ends it: its port then refuses connections.
  void Stop();

 private:
  HANDLE process_ = nullptr;
  long port_ = 0;
};
