// Time: a 32-bit millisecond clock that wraps, and sleeping.
#pragma once

#include <cstdint>

namespace vxt {

// Milliseconds since the system started, plus the offset, modulo 2^32.
std::uint32_t clock_ms();

// Moves the clock: the next reading is `reading` (tests and the automation front end).
void set_clock_reading(std::uint32_t reading);
// Lets the clock jump forward by `ms`; sleeps stay real.
void advance_clock(std::uint32_t ms);

void sleep_ms(unsigned ms);

// Microseconds of the system's monotonic clock, never moved by the driver: for pacing polls.
std::uint64_t steady_us();

}  // namespace vxt
