// The process-wide pseudo-random generator (file names, Digest client nonces).
#pragma once

#include <cstdint>

namespace vxt {

void seed_random(std::uint32_t seed);
// state = state * 214013 + 2531011; returns (state >> 16) & 0x7fff, 0..32767.
int next_random();

// "/vxt%x.bin" from a fresh random value into `tftp_file_name`: the file the device must ask
// for.
void draw_tftp_file_name();

}  // namespace vxt
