#pragma once
// pesolan find's listening on one serial port: each line setting in turn,
// sending nothing, through the platform layer's port functions.

#include <string>

#include "find_decide.h"

namespace host {

constexpr unsigned kListenMs = 1500;  // per line setting

struct Listened {
  std::string openError;  // the port did not open, and why
  Heard heard[2];         // with --attrs 0 and 1
  Verdict verdict;
};

Listened ListenToPort(int com);

}  // namespace host
