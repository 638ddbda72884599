// Group traffic on loopback; runs inside a private network namespace (tests/in_netns).
#include "platform/netns_guard.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <cerrno>
#include <string>
#include <vector>

namespace vxt {
namespace {

constexpr std::uint32_t loopback = 0x7F000001;   // 127.0.0.1
constexpr std::uint32_t loopback2 = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t group = 0xEA04080A;      // 234.4.8.10
constexpr std::uint16_t group_port = 4810;

class MulticastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
    ASSERT_TRUE(socket_layer_start());
  }
  void TearDown() override {
    for (const Socket s : open_) socket_close(s);
  }
  Socket keep(Socket s) {
    EXPECT_NE(s, invalid_socket);
    open_.push_back(s);
    return s;
  }
  // The arrangement the wizard uses: any-bound with the port, joined on the PC address.
  Socket group_receiver() {
    const Socket s = keep(udp_socket());
    EXPECT_TRUE(socket_allow_address_reuse(s));
    EXPECT_TRUE(socket_bind(s, 0, group_port));
    EXPECT_TRUE(socket_join_group(s, group, loopback)) << "errno " << socket_last_error();
    return s;
  }
  Socket group_sender(std::uint32_t bound_address, std::uint16_t port) {
    const Socket s = keep(udp_socket());
    EXPECT_TRUE(socket_bind(s, bound_address, port));
    EXPECT_TRUE(socket_set_multicast_interface(s, loopback)) << "errno " << socket_last_error();
    return s;
  }
  // Waits (bounded, only so that a failure cannot hang) for one datagram.
  static int receive(Socket s, char* buffer, int capacity, std::uint32_t* from_address,
                     std::uint16_t* from_port) {
    pollfd waiting{s, POLLIN, 0};
    if (::poll(&waiting, 1, 10000) != 1) return -1;
    return socket_receive_from(s, buffer, capacity, from_address, from_port);
  }

 private:
  std::vector<Socket> open_;
};

TEST_F(MulticastTest, GroupDatagramArrivesWithTheSendersBoundSource) {
  struct Case {
    const char* name;
    std::uint32_t sender_address;
    std::uint16_t sender_port;
  };
  const Case cases[] = {
      {"sender on the PC address", loopback, 4811},
      {"sender on a second loopback address", loopback2, 4812},
  };
  const Socket receiver = group_receiver();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Socket sender = group_sender(c.sender_address, c.sender_port);
    const std::string payload = std::string("RECM ") + c.name;
    ASSERT_EQ(
        socket_send_to(sender, payload.data(), static_cast<int>(payload.size()), group, group_port),
        static_cast<int>(payload.size()))
        << "errno " << socket_last_error();

    char buffer[100] = {};
    std::uint32_t from_address = 0;
    std::uint16_t from_port = 0;
    const int length = receive(receiver, buffer, sizeof buffer, &from_address, &from_port);
    ASSERT_EQ(length, static_cast<int>(payload.size()));
    EXPECT_EQ(std::string(buffer, length), payload);
    EXPECT_EQ(from_address, c.sender_address);
    EXPECT_EQ(from_port, c.sender_port);
  }
}

TEST_F(MulticastTest, MembershipSetUpFailures) {
  const Socket s = keep(udp_socket());
  ASSERT_TRUE(socket_bind(s, 0, group_port));
  // No interface in this namespace has 10.1.2.3.
  EXPECT_FALSE(socket_join_group(s, group, 0x0A010203));
  EXPECT_NE(socket_last_error(), 0);
  EXPECT_FALSE(socket_join_group(s, loopback2, loopback)) << "not a group address";
  EXPECT_EQ(socket_last_error(), EINVAL);
  EXPECT_FALSE(socket_set_multicast_interface(s, 0x0A010203));
  EXPECT_NE(socket_last_error(), 0);
}

}  // namespace
}  // namespace vxt
