// The recovery socket's life in one process: set-up failures with their messages, failed
// sends, and the close at the end. One test, because the socket is process-wide and is never
// reopened once closed. Runs inside a private network namespace (tests/in_netns).
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <set>
#include <string>

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

RecoveryTestPeer::Script always_answer() {
  return [](int, const SeenRequest&) { return std::vector<ScriptedReply>{{filled(100, 0x42)}}; };
}

// Runs one exchange on a thread of its own; the test plays the person at its messages.
std::future<bool> exchange_async(std::uint32_t local_address) {
  return std::async(std::launch::async, [local_address] {
    unsigned char reply[100];
    return recovery_exchange(make_search_request("VX0001"), reply, local_address);
  });
}

// The next message not dismissed yet: a plain window without owner, not task-modal.
void expect_message_and_dismiss(const std::string& title, const std::string& text) {
  static std::set<int> dismissed;
  MessageSnapshot m;
  recording::wait_for([&](const std::vector<recording::Note>& notes) {
    for (const recording::Note& n : notes) {
      if (n.kind == recording::Note::message_open && dismissed.count(n.message.number) == 0) {
        m = n.message;
        return true;
      }
    }
    return false;
  });
  ASSERT_NE(m.number, 0) << "no message \"" << text << "\"";
  dismissed.insert(m.number);
  EXPECT_EQ(m.title, title);
  EXPECT_EQ(m.text, text);
  EXPECT_EQ(m.owner, 0);
  EXPECT_FALSE(m.task_modal);
  ASSERT_TRUE(gesture::dismiss(m.number, nullptr));
}

int message_count() {
  int n = 0;
  for (const recording::Note& note : recording::notes())
    if (note.kind == recording::Note::message_open) ++n;
  return n;
}

TEST(RecoverySocketLifecycle, SetUpFailuresSendFailuresAndTheFinalClose) {
  ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
  recording::clear();
  RecoveryTestPeer peer(always_answer());
  ASSERT_TRUE(peer.ok()) << peer.error();

  {
    SCOPED_TRACE("port 4811 taken");
    const Socket squatter = udp_socket();
    ASSERT_TRUE(socket_bind(squatter, 0, 4811));
    auto result = exchange_async(pc_address);
    expect_message_and_dismiss("Error", "Binding socket failed! Error: 98");
    EXPECT_FALSE(result.get());
    socket_close(squatter);
  }
  {
    SCOPED_TRACE("no interface has the PC address");
    auto result = exchange_async(0x0A090909);
    expect_message_and_dismiss("Error", "setsockopt failed! Error: 19");
    EXPECT_FALSE(result.get());
  }
  EXPECT_TRUE(peer.seen().empty()) << "a failed set-up sends nothing";
  EXPECT_EQ(message_count(), 2);

  {
    SCOPED_TRACE("set up on the PC address");
    EXPECT_TRUE(exchange_async(pc_address).get());
    ASSERT_EQ(peer.seen().size(), 1u);
    EXPECT_EQ(peer.seen()[0].source_address, pc_address);
    EXPECT_EQ(peer.seen()[0].source_port, 4811);
  }
  {
    SCOPED_TRACE("every send fails");
    ASSERT_EQ(std::system("ip link set lo down"), 0);
    auto result = exchange_async(pc_address);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      expect_message_and_dismiss("error", "Sending error");
    }
    EXPECT_FALSE(result.get());
    EXPECT_EQ(message_count(), 7);
    ASSERT_EQ(std::system("ip link set lo up && ip route add 224.0.0.0/4 dev lo"), 0);
  }
  {
    SCOPED_TRACE("the same socket works again once the network is back");
    RecoveryTestPeer again(always_answer());
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_TRUE(exchange_async(pc_address).get());
    ASSERT_EQ(again.seen().size(), 1u);
    EXPECT_EQ(again.seen()[0].source_port, 4811);

    close_recovery_socket();
    const Socket after = udp_socket();
    EXPECT_TRUE(socket_bind(after, 0, 4811)) << "the port is free once the socket is closed";
    socket_close(after);
    close_recovery_socket();  // a second close does nothing
    EXPECT_FALSE(exchange_async(pc_address).get()) << "a closed socket is not reopened";
    EXPECT_EQ(again.seen().size(), 1u);
    EXPECT_EQ(message_count(), 7);
  }
}

}  // namespace
}  // namespace vxt
