#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzzing {
// The bytes the stand-in channel hands out: for the stream test, for each
// request, and as the scale's bytes.
void PlayScale(const uint8_t* data, size_t size);
}  // namespace fuzzing
