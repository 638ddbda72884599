#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace vxt {

namespace {

// Added to the system's reading; unsigned, so every sum wraps modulo 2^32.
std::atomic<std::uint32_t> clock_offset{0};

// Since the system started, time spent suspended included (CLOCK_MONOTONIC stops meanwhile).
std::uint32_t system_ms() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace

std::uint32_t clock_ms() {
  return static_cast<std::uint32_t>(system_ms() + clock_offset.load(std::memory_order_relaxed));
}

void set_clock_reading(std::uint32_t reading) {
  clock_offset.store(static_cast<std::uint32_t>(reading - system_ms()), std::memory_order_relaxed);
}

void advance_clock(std::uint32_t ms) { clock_offset.fetch_add(ms, std::memory_order_relaxed); }

void sleep_ms(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::uint64_t steady_us() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace vxt
