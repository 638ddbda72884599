// The recovery exchange against a peer of the test's own on the group; runs inside a private
// network namespace (tests/in_netns). The PC address is 127.0.0.1. All tests share the one
// process-wide socket, as the wizard's exchanges do; none leaves a datagram behind.
#include <gtest/gtest.h>

#include <poll.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "platform/frontend_recording.h"
#include "platform/netns_guard.h"
#include "platform/socket.h"
#include "recovery/recovery_socket.h"
#include "recovery/recovery_test_peer.h"

namespace vxt {
namespace {

using test::filled;
using test::RecoveryTestPeer;
using test::ScriptedReply;
using test::SeenRequest;

constexpr std::uint32_t pc_address = 0x7F000001;

class RecoveryExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
    recording::clear();
  }

  static RecoveryRequest search_for(const char* serial) {
    RecoveryRequest r = make_search_request(serial);
    std::memcpy(r.magic, "XXXX", 4);  // the exchange must write its own
    return r;
  }

  // Every request reached the group at port 4810 from the PC address and port 4811, carried
  // the caller's bytes with "RECM" written in.
  static void expect_sent_as(const std::vector<SeenRequest>& seen, const RecoveryRequest& r) {
    std::vector<std::uint8_t> expected(reinterpret_cast<const std::uint8_t*>(&r),
                                       reinterpret_cast<const std::uint8_t*>(&r) + sizeof r);
    std::memcpy(expected.data() + 4, "RECM", 4);
    for (const SeenRequest& s : seen) {
      EXPECT_EQ(s.bytes, expected);
      EXPECT_EQ(s.source_address, pc_address);
      EXPECT_EQ(s.source_port, 4811);
      EXPECT_EQ(s.destination_address, recovery_group);
    }
  }

  static std::vector<std::uint8_t> as_vector(const unsigned char (&reply)[100]) {
    return std::vector<std::uint8_t>(reply, reply + 100);
  }
};

TEST_F(RecoveryExchange, ADeviceThatAnswersAtOnceIsAskedOnceAndTheCallersRequestStaysAsItWas) {
  const std::vector<std::uint8_t> answer = filled(100, 0x5a);
  RecoveryTestPeer peer(
      [&](int, const SeenRequest&) { return std::vector<ScriptedReply>{{answer}}; });
  ASSERT_TRUE(peer.ok()) << peer.error();
  const RecoveryRequest request = search_for("VX0001");
  const RecoveryRequest before = request;
  unsigned char reply[100] = {};
  ASSERT_TRUE(recovery_exchange(request, reply, pc_address));
  EXPECT_EQ(as_vector(reply), answer);
  EXPECT_EQ(std::memcmp(&request, &before, sizeof request), 0);
  EXPECT_EQ(std::memcmp(request.magic, "XXXX", 4), 0);
  ASSERT_EQ(peer.seen().size(), 1u);
  expect_sent_as(peer.seen(), request);

  // Later exchanges keep the socket, its port and its interface whatever address they name.
  const RecoveryRequest start = make_start_request("VX0001", 69, "/vxt1.bin");
  ASSERT_TRUE(recovery_exchange(start, reply, 0x0A0B0C0D));
  ASSERT_EQ(peer.seen().size(), 2u);
  expect_sent_as({peer.seen()[1]}, start);
  EXPECT_TRUE(recording::notes().empty()) << "no message window";
}

TEST_F(RecoveryExchange, ADeviceThatAnswersOnlyTheFifthRequestIsFound) {
  RecoveryTestPeer peer([](int index, const SeenRequest&) {
    if (index < 4) return std::vector<ScriptedReply>{};
    return std::vector<ScriptedReply>{{filled(100, 0x05)}};
  });
  ASSERT_TRUE(peer.ok()) << peer.error();
  const RecoveryRequest request = search_for("LATE");
  unsigned char reply[100] = {};
  ASSERT_TRUE(recovery_exchange(request, reply, pc_address));
  EXPECT_EQ(as_vector(reply), filled(100, 0x05));
  EXPECT_EQ(peer.seen().size(), 5u);
  expect_sent_as(peer.seen(), request);
}

TEST_F(RecoveryExchange, NoDeviceMeansFiveIdenticalRequestsAndNoReply) {
  RecoveryTestPeer peer([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(peer.ok()) << peer.error();
  const RecoveryRequest request = search_for("NOBODY");
  unsigned char reply[100] = {};
  EXPECT_FALSE(recovery_exchange(request, reply, pc_address));
  EXPECT_EQ(peer.seen().size(), 5u);
  expect_sent_as(peer.seen(), request);
}

TEST_F(RecoveryExchange, DatagramsOfOtherLengthsAreMissesAndALongOneNeverPassesForAReply) {
  // One request; the answers queue up and each poll takes one of them.
  std::vector<std::uint8_t> long_one = filled(101, 0x11);
  const std::vector<std::uint8_t> right = filled(100, 0x22);
  RecoveryTestPeer peer([&](int index, const SeenRequest&) {
    if (index > 0) return std::vector<ScriptedReply>{};
    return std::vector<ScriptedReply>{{filled(99, 0x11)},
                                      {long_one},
                                      {filled(0, 0)},
                                      {filled(2000, 0x11), 0x7F000009, 9999},
                                      {right, 0x7F000003, 5000}};
  });
  ASSERT_TRUE(peer.ok()) << peer.error();
  unsigned char reply[100] = {};
  ASSERT_TRUE(recovery_exchange(search_for("LENGTHS"), reply, pc_address));
  EXPECT_EQ(as_vector(reply), right);
  EXPECT_EQ(peer.seen().size(), 1u);  // the fifth poll of the first attempt took it
}

TEST_F(RecoveryExchange, WithTwoDevicesTheFirstReplyWinsAndTheSecondAnswersTheNextExchange) {
  const std::vector<std::uint8_t> first = filled(100, 0xa1);
  const std::vector<std::uint8_t> second = filled(100, 0xb2);
  RecoveryTestPeer peer([&](int index, const SeenRequest&) {
    if (index > 0) return std::vector<ScriptedReply>{};
    return std::vector<ScriptedReply>{{first, 0x7F000002, 4810}, {second, 0x7F000003, 4810}};
  });
  ASSERT_TRUE(peer.ok()) << peer.error();
  unsigned char reply[100] = {};
  ASSERT_TRUE(recovery_exchange(search_for("TWO"), reply, pc_address));
  EXPECT_EQ(as_vector(reply), first);
  ASSERT_TRUE(recovery_exchange(make_start_request("TWO", 70, "/vxt2.bin"), reply, pc_address));
  EXPECT_EQ(as_vector(reply), second);
  EXPECT_EQ(peer.seen().size(), 2u);
}

TEST_F(RecoveryExchange, AFloodOfJunkUsesUpPollsAndTheReplyBehindItIsStillTaken) {
  // Twelve junk datagrams from strangers after the first request use up the two first
  // attempts and two polls of the third; the device answers the third request.
  RecoveryTestPeer peer([](int index, const SeenRequest&) {
    std::vector<ScriptedReply> out;
    if (index == 0) {
      for (int i = 0; i < 12; ++i) {
        const std::size_t size = (i * 37) % 300 == 100 ? 7 : (i * 37) % 300;
        out.push_back({filled(size, static_cast<std::uint8_t>(0x80 + i)),
                       static_cast<std::uint32_t>(0x7F000010 + i),
                       static_cast<std::uint16_t>(6000 + i)});
      }
    }
    if (index == 2) out.push_back({filled(100, 0x33)});
    return out;
  });
  ASSERT_TRUE(peer.ok()) << peer.error();
  unsigned char reply[100] = {};
  ASSERT_TRUE(recovery_exchange(search_for("FLOOD"), reply, pc_address));
  EXPECT_EQ(as_vector(reply), filled(100, 0x33));
  EXPECT_EQ(peer.seen().size(), 3u);
}

// The read each poll makes, on a socket of the test's own: every length from 0 to 2000.
TEST(RecoveryReplyAcceptance, OnlyAnExactHundredBytesIsAReplyWhateverItHolds) {
  ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
  const Socket receiver = udp_socket();
  ASSERT_NE(receiver, invalid_socket);
  ASSERT_TRUE(socket_bind(receiver, pc_address, 0));
  ASSERT_TRUE(socket_set_non_blocking(receiver));
  const std::uint16_t port = socket_local_port(receiver);
  const Socket sender = udp_socket();
  ASSERT_NE(sender, invalid_socket);
  ASSERT_TRUE(socket_bind(sender, 0x7F000002, 0));

  unsigned char reply[100];
  EXPECT_FALSE(take_recovery_reply(receiver, reply)) << "nothing pending";
  for (int length = 0; length <= 2000; ++length) {
    SCOPED_TRACE(length);
    // No zero byte anywhere, and the first 100 bytes of a longer one look like a reply.
    std::vector<unsigned char> datagram(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
      datagram[i] = static_cast<unsigned char>(1 + (i * 7 + length) % 255);
    ASSERT_EQ(socket_send_to(sender, datagram.data(), length, pc_address, port), length);
    pollfd waiting{receiver, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 10000), 1);
    std::memset(reply, 0, sizeof reply);
    const bool taken = take_recovery_reply(receiver, reply);
    EXPECT_EQ(taken, length == 100);
    if (taken) {
      EXPECT_EQ(std::memcmp(reply, datagram.data(), 100), 0);
    }
    EXPECT_FALSE(take_recovery_reply(receiver, reply)) << "the datagram was consumed whole";
  }
  socket_close(sender);
  socket_close(receiver);
}

}  // namespace
}  // namespace vxt
