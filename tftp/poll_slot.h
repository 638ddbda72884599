// The upload session's unit of waiting: one poll is a slot of 1 ms on the steady clock.
//
// Waiting on the socket ends as soon as a datagram arrives, so an acknowledgement is taken at
// once. A datagram that the session ignores does not end the slot it arrived in: the wait
// goes on for the rest of that millisecond. Junk therefore neither makes the polls, which the
// session counts as time, run faster than the clock, nor delays an acknowledgement behind it.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace vxt {

struct PollSlot {
  std::uint64_t end_us = 0;
  bool running = false;
};

constexpr long poll_slot_us = 1000;

// Starts a slot if none runs, then waits on the socket for the rest of it. True when the
// slot has ended (one poll has passed); false when a datagram is there to be read first.
bool wait_out_poll_slot(Socket socket, PollSlot* slot);

// Drops the running slot; the next wait starts a new one.
inline void end_poll_slot(PollSlot* slot) { slot->running = false; }

}  // namespace vxt
