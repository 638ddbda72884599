#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vxt {
namespace {

using Steady = std::chrono::steady_clock;

// How far the clock may have moved while the bracketed code ran: the real time that passed,
// plus one for the millisecond truncation.
std::uint32_t allowance(Steady::time_point since) {
  return static_cast<std::uint32_t>(
             std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - since).count()) +
         1;
}

TEST(Clock, SetReadingIsTheNextReading) {
  for (const std::uint32_t reading : {0u, 12345u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(reading);
    const Steady::time_point start = Steady::now();
    set_clock_reading(reading);
    const std::uint32_t read = clock_ms();
    EXPECT_LE(static_cast<std::uint32_t>(read - reading), allowance(start));
  }
}

TEST(Clock, RealTimeCarriesTheReadingAcrossTheWrap) {
  const Steady::time_point start = Steady::now();
  set_clock_reading(0xFFFFFFFFu - 5);
  sleep_ms(20);
  const std::uint32_t read = clock_ms();
  const std::uint32_t moved = read - (0xFFFFFFFFu - 5);
  EXPECT_GE(moved, 20u) << "sleeps are real";
  EXPECT_LE(moved, allowance(start));
  EXPECT_LT(read, 0xFFFFFFFFu - 5) << "the reading wrapped past 2^32 to a small one";
}

TEST(Clock, AdvanceAddsModulo2To32) {
  struct Case {
    std::uint32_t from;
    std::uint32_t advance;
  };
  const Case cases[] = {
      {1000, 50000},           // an ordinary jump
      {0xFFFFF000u, 0x2000u},  // across the wrap
      {0x10u, 0xFFFFFFF0u},    // a jump of nearly 2^32 lands just before the start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    const Steady::time_point start = Steady::now();
    set_clock_reading(c.from);
    advance_clock(c.advance);
    const std::uint32_t read = clock_ms();
    const std::uint32_t expected = c.from + c.advance;  // wraps
    EXPECT_LE(static_cast<std::uint32_t>(read - expected), allowance(start));
  }
  // Jumps add up.
  const Steady::time_point start = Steady::now();
  set_clock_reading(0xFFFFFFF0u);
  advance_clock(0x10);
  advance_clock(0x10);
  EXPECT_LE(static_cast<std::uint32_t>(clock_ms() - 0x10u), allowance(start));
}

TEST(Clock, SleepLastsAtLeastTheTimeAsked) {
  const Steady::time_point start = Steady::now();
  sleep_ms(30);
  EXPECT_GE(Steady::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace vxt
