#include "tftp/poll_slot.h"

#include "platform/clock.h"

namespace vxt {

bool wait_out_poll_slot(Socket socket, PollSlot* slot) {
  const std::uint64_t now = steady_us();
  if (!slot->running) {
    slot->running = true;
    slot->end_us = now + poll_slot_us;
  }
  if (now < slot->end_us &&
      socket_wait_readable_us(socket, static_cast<long>(slot->end_us - now))) {
    return false;
  }
  slot->running = false;
  return true;
}

}  // namespace vxt
