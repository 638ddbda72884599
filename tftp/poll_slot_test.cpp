#include "tftp/poll_slot.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace vxt {
namespace {

TEST(PollSlot, ADatagramEndsTheWaitButNotTheSlot) {
  const Socket receiver = udp_socket();
  const Socket sender = udp_socket();
  ASSERT_TRUE(socket_bind(receiver, 0x7F000001, 0));
  ASSERT_TRUE(socket_set_non_blocking(receiver));
  const std::uint16_t port = socket_local_port(receiver);

  PollSlot slot;
  EXPECT_TRUE(wait_out_poll_slot(receiver, &slot)) << "nothing arrives: the slot passes";
  EXPECT_FALSE(slot.running);

  // Queued before the next slot starts: the wait returns at once and the slot runs on.
  ASSERT_EQ(socket_send_to(sender, "j", 1, 0x7F000001, port), 1);
  ASSERT_TRUE(socket_wait_readable(receiver, 60000));
  EXPECT_FALSE(wait_out_poll_slot(receiver, &slot));
  ASSERT_TRUE(slot.running);
  const std::uint64_t end = slot.end_us;
  char buffer[4];
  ASSERT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, nullptr, nullptr), 1);

  // The junk taken, the same slot is waited out to its end; then a new one begins.
  EXPECT_TRUE(wait_out_poll_slot(receiver, &slot));
  EXPECT_EQ(slot.end_us, end);
  EXPECT_GE(steady_us(), end);
  EXPECT_TRUE(wait_out_poll_slot(receiver, &slot));
  EXPECT_GT(slot.end_us, end);

  end_poll_slot(&slot);
  EXPECT_FALSE(slot.running);
  socket_close(receiver);
  socket_close(sender);
}

}  // namespace
}  // namespace vxt
