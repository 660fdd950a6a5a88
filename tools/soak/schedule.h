#pragma once
// The scales' side of the soak: a seeded schedule of what happens to each
// scale (its weight and stability change, it changes unit or mode, drips,
// bursts, sends junk, falls silent, is switched off or reset, floods, its
// lines come packed or slowly).

#include <atomic>
#include <cstdint>
#include <vector>

#include "soak.h"

namespace soak {

// Sends the scales their events until stop is set; returns how many.
long RunSchedule(std::vector<Scale>& scales, uint64_t seed, const std::atomic<bool>& stop);

// A weight text for the scales: five digits at most, three of them after a
// point at most.
std::string ScheduledWeight(uint64_t roll);

}  // namespace soak
