#pragma once
#include <cstdint>

namespace fuzzing {
// Milliseconds of virtual time: advanced by Sleep and Yield.
extern uint32_t g_now;
}  // namespace fuzzing
