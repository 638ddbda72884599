// Two request calls that would overlap: the simulated device answers the upgrade command and
// holds its connection open; a later call on another thread ends that exchange and waits for
// its worker before its own attempt.
#include "web/request_handover.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "core/session_state.h"
#include "core/text.h"
#include "platform/frontend_recording.h"
#include "platform/netns_guard.h"
#include "sim/device.h"
#include "web/request_runner.h"

namespace vxt {
namespace {

constexpr std::uint32_t pc = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t device = 0x7F000002;  // 127.0.0.2

TEST(RequestHandover, ALaterCallEndsTheExchangeThatTheDeviceHoldsOpen) {
  if (!in_private_network_namespace()) GTEST_SKIP() << "run through tests/in_netns";
  ASSERT_TRUE(socket_layer_start());
  copy_text(session.device_label, "127.0.0.2");
  session.mode = 1;

  // The device fetches from 127.0.0.1:69 after the command; nobody answers it there, and its
  // long time-out keeps the command's connection held for the whole test.
  const Socket tftp_sink = udp_socket();
  ASSERT_TRUE(socket_bind(tftp_sink, pc, 69));
  sim::DeviceConfig config;
  config.web_faults.hold_upgrade_connection = true;
  config.tftp.timeout_ms = 600000;
  sim::Device sim(config);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;

  static char command_buffer[http_capacity + 1];
  auto command = std::async(std::launch::async, [] {
    return run_web_request(pc, 23456, device, 80, "/admin/upgrade?tftp://127.0.0.1:69/vxt1.bin",
                           command_buffer, http_capacity);
  });
  // The device has answered the command and started its transfer: the connection is held.
  ASSERT_TRUE(sim.wait_until(
      [](const sim::DeviceStatus& s) { return s.state == sim::DeviceState::transferring; },
      std::chrono::seconds(30)));
  ASSERT_EQ(command.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
      << "the command's exchange is still waiting for the device to close";

  const int page =
      run_web_request(pc, 23456, device, 80, "/admin/advanced", session.http_buffer, http_capacity);
  ASSERT_EQ(command.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "the later call ended the held exchange";
  const int command_result = command.get();
  EXPECT_GT(command_result, 0) << "what the device had answered counts";
  EXPECT_NE(std::strstr(command_buffer, "200 OK"), nullptr);
  EXPECT_GT(page, 0);
  EXPECT_NE(std::strstr(session.http_buffer, "Software Version:"), nullptr);
  EXPECT_STREQ(session.device_info.product_name, "VXT-200");

  // Both requests reached the device, in order, each on a connection of its own.
  const std::vector<std::string> heads = sim.http_request_heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0].rfind("GET /admin/upgrade?", 0), 0u);
  EXPECT_EQ(heads[1].rfind("GET /admin/advanced ", 0), 0u);
  sim.stop();
  socket_close(tftp_sink);
}

}  // namespace
}  // namespace vxt
