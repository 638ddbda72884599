// The listener's socket and its wait for the read request, in a private network namespace of
// the test's own (ports 69 to 168 and the recovery group are free to use there).
#include "tftp/tftp_listener.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/frontend_recording.h"
#include "platform/netns_guard.h"
#include "tftp/tftp_test_peer.h"
#include "tftp/transfer_window.h"

namespace vxt {
namespace {

using test::Bytes;
using test::TestPeer;

constexpr std::uint32_t pc = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t device = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t group = 0xEA04080A;   // 234.4.8.10

class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!in_private_network_namespace()) GTEST_SKIP() << "run through tests/in_netns";
    recording::clear();
  }
  void TearDown() override {
    for (Socket s : held_) socket_close(s);
  }
  // Takes ports first..last on `address`, as other programs would.
  void occupy(std::uint32_t address, int first, int last) {
    for (int port = first; port <= last; ++port) {
      const Socket s = udp_socket();
      ASSERT_TRUE(socket_bind(s, address, static_cast<std::uint16_t>(port))) << port;
      held_.push_back(s);
    }
  }
  std::vector<Socket> held_;
};

TEST_F(ListenerTest, BindsTheFirstFreePortFrom69To168) {
  struct Case {
    const char* what;
    std::uint32_t taken_on;
    int taken_last;  // ports 69..taken_last are taken; 0: none
    std::uint32_t local_address;
    ListenerSocketResult result;
    std::uint16_t port;
  } cases[] = {
      {"all free", pc, 0, pc, ListenerSocketResult::opened, 69},
      {"69 taken", pc, 69, pc, ListenerSocketResult::opened, 70},
      {"69 to 120 taken", pc, 120, pc, ListenerSocketResult::opened, 121},
      {"only 168 left", pc, 167, pc, ListenerSocketResult::opened, 168},
      {"69 to 168 taken", pc, 168, pc, ListenerSocketResult::no_free_port, 0},
      {"69 taken on the any-address", 0, 69, 0, ListenerSocketResult::opened, 70},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.taken_last != 0) occupy(c.taken_on, 69, c.taken_last);
    TftpListener listener{};
    ASSERT_EQ(open_tftp_listener_socket(&listener, c.local_address, nullptr), c.result);
    if (c.result == ListenerSocketResult::opened) {
      EXPECT_EQ(listener.port, c.port);
      EXPECT_EQ(socket_local_port(listener.socket), c.port);
      EXPECT_EQ(listener.local_address, c.local_address);
      EXPECT_EQ(listener.group_address, 0u);
      socket_close(listener.socket);
    }
    TearDown();
    held_.clear();
  }
}

TEST_F(ListenerTest, WithTheGroupBothGroupAndOwnAddressReachIt) {
  TftpListener listener{};
  ASSERT_EQ(open_tftp_listener_socket(&listener, pc, "234.4.8.10"), ListenerSocketResult::opened);
  EXPECT_EQ(listener.port, 69);
  EXPECT_EQ(listener.group_address, group);
  const Socket sender = udp_socket();
  ASSERT_TRUE(socket_bind(sender, device, 0));
  ASSERT_TRUE(socket_set_multicast_interface(sender, device));
  ASSERT_EQ(socket_send_to(sender, "to the group", 12, group, 69), 12);
  ASSERT_EQ(socket_send_to(sender, "to the pc", 9, pc, 69), 9);
  for (const std::string expected : {"to the group", "to the pc"}) {
    ASSERT_TRUE(socket_wait_readable(listener.socket, 60000));
    char buffer[32];
    std::uint32_t from = 0;
    const int n = socket_receive_from(listener.socket, buffer, sizeof buffer, &from, nullptr);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), expected);
    EXPECT_EQ(from, device);
  }
  socket_close(sender);
  socket_close(listener.socket);
}

TEST_F(ListenerTest, AGroupThatCannotBeJoinedClosesTheSocket) {
  for (const char* bad : {"1.2.3.4", "234.4.8", "not a group"}) {
    SCOPED_TRACE(bad);
    TftpListener listener{};
    EXPECT_EQ(open_tftp_listener_socket(&listener, pc, bad),
              ListenerSocketResult::group_not_joined);
    const Socket again = udp_socket();
    EXPECT_TRUE(socket_bind(again, 0, 69)) << "port 69 is free again";
    socket_close(again);
  }
}

TEST_F(ListenerTest, OnlyAReadRequestForTheFileNameIsTaken) {
  const std::string name = "/vxt2f1a.bin";
  TftpListener listener{};
  ASSERT_EQ(open_tftp_listener_socket(&listener, pc, nullptr), ListenerSocketResult::opened);
  ASSERT_TRUE(socket_set_non_blocking(listener.socket));
  Window* window = create_modeless(waiting_dialog, transfer_window_proc);
  show_window(window);

  std::string options;
  for (int i = 0; i < 100; ++i) options += "o" + std::to_string(i) + '\0' + "1" + '\0';
  Bytes long_request = TestPeer::read_request(name);
  long_request.resize(1100, 'x');  // the right request, but longer than anything taken in
  Bytes with_options = TestPeer::read_request("/other.bin");
  with_options.insert(with_options.end(), options.begin(), options.end());
  Bytes without_nul = {0, 1};
  without_nul.insert(without_nul.end(), name.begin(), name.end());
  const std::vector<Bytes> ignored = {
      {},
      {0},
      {0, 1},
      {0, 1, '/'},
      without_nul,
      long_request,
      Bytes(2000, 0),
      TestPeer::read_request("/VXT2F1A.BIN"),
      TestPeer::read_request("/vxt2f1b.bin"),
      TestPeer::read_request("/" + std::string(127, 'a')),
      with_options,
      {0, 2, '/', 'v', 0, 'o', 0},  // write request for another name
      [&] {
        Bytes w = TestPeer::read_request(name);
        w[1] = 2;  // a write request for the very name
        return w;
      }(),
      {0, 3, 0, 1, 'd'},
      {0, 4, 0, 0},
      {0, 5, 0, 1, 'e', 0},
      [&] {
        Bytes w = TestPeer::read_request(name);
        w[1] = 9;
        return w;
      }(),
  };
  TestPeer junk(device);
  for (const Bytes& d : ignored) {
    ASSERT_EQ(socket_send_to(junk.socket(), d.data(), static_cast<int>(d.size()), pc, 69),
              static_cast<int>(d.size()));
  }
  // The right name in netascii mode, with options, from a port of its own.
  TestPeer asking(device);
  Bytes right = TestPeer::read_request(name, "netascii");
  right.insert(right.end(), options.begin(), options.end());
  ASSERT_LT(right.size(), 1024u);
  ASSERT_EQ(socket_send_to(asking.socket(), right.data(), static_cast<int>(right.size()), pc, 69),
            static_cast<int>(right.size()));

  std::uint32_t peer_address = 0;
  std::uint16_t peer_port = 0;
  wait_for_read_request(&listener, window, name.c_str(), &peer_address, &peer_port);
  EXPECT_EQ(peer_address, device);
  EXPECT_EQ(peer_port, asking.port());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(listener.packet + 2)), name);
  EXPECT_FALSE(socket_wait_readable(junk.socket(), 50)) << "nothing is ever answered";
  destroy_window(window);
  socket_close(listener.socket);
}

TEST_F(ListenerTest, TheWaitingBarCreepsWhileNothingArrives) {
  TftpListener listener{};
  ASSERT_EQ(open_tftp_listener_socket(&listener, pc, nullptr), ListenerSocketResult::opened);
  ASSERT_TRUE(socket_set_non_blocking(listener.socket));
  Window* window = create_modeless(waiting_dialog, transfer_window_proc);
  show_window(window);
  set_progress_range(window, waiting_progress_bar, 1000);
  TestPeer asking(device);
  // Sent once the bar has moved a few steps.
  std::thread late([&] {
    recording::wait_for([&](const std::vector<recording::Note>& notes) {
      for (const auto& n : notes)
        if (n.kind == recording::Note::control_change && n.value == 5) return true;
      return false;
    });
    const Bytes r = TestPeer::read_request("/vxt1e27.bin");
    socket_send_to(asking.socket(), r.data(), static_cast<int>(r.size()), pc, 69);
  });
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  wait_for_read_request(&listener, window, "/vxt1e27.bin", &address, &port);
  late.join();
  std::vector<int> positions;
  for (const auto& n : recording::notes())
    if (n.kind == recording::Note::control_change && n.window == window_number(window))
      positions.push_back(n.value);
  ASSERT_GE(positions.size(), 6u);
  for (std::size_t i = 0; i < positions.size(); ++i)
    EXPECT_EQ(positions[i], static_cast<int>(i)) << "one step per empty poll from 0";
  destroy_window(window);
  socket_close(listener.socket);
}

}  // namespace
}  // namespace vxt
