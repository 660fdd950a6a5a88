#pragma once
// A command to a QEMU machine's monitor over its QMP socket (POSIX only).

#include <string>

namespace scale_sim {

// Connects, negotiates, sends command (one JSON object) and waits for its
// answer; true when it was a return, false for an error or no answer.
bool QmpExecute(const std::string& socketPath, const std::string& command, std::string* answer);

}  // namespace scale_sim
