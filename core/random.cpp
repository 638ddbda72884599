#include "core/random.h"

#include <cstdio>

#include "core/session_state.h"

namespace vxt {
namespace {
// No lock: its users run at different times, ordered by thread starts and ends.
std::uint32_t random_state = 0;
}  // namespace

void seed_random(std::uint32_t seed) { random_state = seed; }

int next_random() {
  random_state = random_state * 214013u + 2531011u;
  return static_cast<int>((random_state >> 16) & 0x7fffu);
}

void draw_tftp_file_name() {
  std::snprintf(session.tftp_file_name, sizeof session.tftp_file_name, "/vxt%x.bin",
                static_cast<unsigned>(next_random() & 0xffff));
}

}  // namespace vxt
