// The process-wide pseudo-random generator (file names, Digest client nonces).
#pragma once

#include <cstdint>

namespace vxt {

void seed_random(std::uint32_t seed);
// state = state * 214013 + 2531011; returns (state >> 16) & 0x7fff, 0..32767.
int next_random();

}  // namespace vxt
