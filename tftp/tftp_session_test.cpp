// The upload session's transfer and settle wait, on the test thread with window 110, against
// a download client of the test's own over loopback.
#include "tftp/tftp_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "core/session_state.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/frontend_recording.h"
#include "tftp/tftp_test_peer.h"
#include "tftp/transfer_window.h"

namespace vxt {
namespace {

using test::AckFault;
using test::Bytes;
using test::TestPeer;

constexpr std::uint32_t pc = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t device = 0x7F000002;  // 127.0.0.2

// A non-repeating image, so a misplaced or repeated block shows in the comparison.
Bytes make_image(std::uint32_t size) {
  Bytes image(size);
  std::uint32_t x = 2463534242u;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x);
  }
  return image;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::clear();
    copy_text(session.device_label, "127.0.0.2");
    server_ = udp_socket();
    ASSERT_TRUE(socket_bind(server_, pc, 0));
    ASSERT_TRUE(socket_set_non_blocking(server_));
  }
  void TearDown() override { socket_close(server_); }

  // Runs the transfer of `image` to `peer` with window 110 on this thread.
  bool transfer(const Bytes& image, TestPeer& peer) {
    TftpSession s{};
    s.socket = server_;
    s.local_address = pc;
    s.local_port = socket_local_port(server_);
    s.peer_address = peer.address();
    s.peer_port = peer.port();
    prepare_tftp_session(&s, static_cast<std::uint32_t>(image.size()));
    window_ = create_modeless(uploading_dialog, transfer_window_proc);
    show_window(window_);
    set_progress_range(window_, transfer_progress_bar, static_cast<int>(s.block_count & 0xFFFF));
    peer.start();
    const bool done = transfer_image(&s, image.data(), window_);
    peer.stop();
    destroy_window(window_);
    block_count_ = s.block_count;
    return done;
  }

  // Captions and progress positions of window 110, in order.
  std::vector<std::string> captions() const {
    std::vector<std::string> out;
    for (const auto& n : recording::notes())
      if (n.kind == recording::Note::caption && n.window == window_number(window_))
        out.push_back(n.text);
    return out;
  }
  std::vector<int> positions() const {
    std::vector<int> out;
    for (const auto& n : recording::notes())
      if (n.kind == recording::Note::control_change && n.window == window_number(window_) &&
          n.control == transfer_progress_bar)
        out.push_back(n.value);
    return out;
  }

  // How often the peer received each packet: index 0 the option acknowledgement, n block n.
  static std::vector<int> copies(const TestPeer& peer, std::uint32_t block_count) {
    std::vector<int> count(block_count + 1, 0);
    for (const Bytes& p : peer.received()) {
      if (p.size() >= 2 && get_be16(p.data()) == tftp_option_ack) ++count[0];
      if (p.size() >= 4 && get_be16(p.data()) == tftp_data) ++count.at(get_be16(p.data() + 2));
    }
    return count;
  }

  Socket server_ = invalid_socket;
  Window* window_ = nullptr;
  std::uint32_t block_count_ = 0;
};

TEST_F(TransferTest, ImagesOfEverySizeClassArriveWholeInOrder) {
  struct Case {
    std::uint32_t size;
    std::uint32_t blocks;
    std::size_t last_data;
  } cases[] = {{761368, 1488, 24}, {0, 1, 0},   {1, 1, 1},    {511, 1, 511},
               {512, 2, 0},        {513, 2, 1}, {1536, 4, 0}, {1500, 3, 476}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    recording::clear();
    const Bytes image = make_image(c.size);
    TestPeer peer(device);
    ASSERT_TRUE(transfer(image, peer));
    EXPECT_EQ(block_count_, c.blocks);
    EXPECT_TRUE(peer.finished());
    EXPECT_EQ(peer.image(), image);

    const std::vector<Bytes> got = peer.received();
    ASSERT_EQ(got.size(), c.blocks + 1) << "the option acknowledgement, then each block once";
    unsigned char oack[32];
    const int oack_length = build_option_ack(oack, c.size);
    EXPECT_EQ(got[0], Bytes(oack, oack + oack_length));
    for (std::uint32_t b = 1; b <= c.blocks; ++b) {
      ASSERT_GE(got[b].size(), 4u);
      EXPECT_EQ(get_be16(got[b].data()), tftp_data);
      EXPECT_EQ(get_be16(got[b].data() + 2), b);
      EXPECT_EQ(got[b].size() - 4, b < c.blocks ? 512 : c.last_data) << "block " << b;
    }
    for (std::uint16_t port : peer.source_ports()) EXPECT_EQ(port, socket_local_port(server_));

    const std::vector<std::string> cap = captions();
    ASSERT_EQ(cap.size(), c.blocks + 1) << "one caption per accepted acknowledgement";
    EXPECT_EQ(cap.front(),
              "Uploading Firmware to VXT@127.0.0.2 0/" + std::to_string(c.size) + " Bytes");
    EXPECT_EQ(cap.back(), "Uploading Firmware to VXT@127.0.0.2 " + std::to_string(c.size) + "/" +
                              std::to_string(c.size) + " Bytes");
    // The range is set at 0; each acknowledgement moves the bar one step, the option's to 1
    // and the last one beyond the range.
    std::vector<int> expected_positions;
    for (int p = 0; p <= static_cast<int>(c.blocks) + 1; ++p) expected_positions.push_back(p);
    EXPECT_EQ(positions(), expected_positions);
  }
}

TEST_F(TransferTest, AcknowledgementFaults) {
  struct Case {
    const char* what;
    std::uint32_t block;
    AckFault fault;
    int copies_of_that_block;  // every other packet arrives once
  } cases[] = {
      {"duplicate acknowledgements are drained", 3, AckFault::duplicate, 1},
      {"a stale acknowledgement first is drained", 3, AckFault::stale, 1},
      {"a duplicated option acknowledgement's ack", 0, AckFault::duplicate, 1},
      {"an acknowledgement from another port is ignored", 3, AckFault::foreign_port, 2},
      {"the option acknowledgement's ack from another port", 0, AckFault::foreign_port, 2},
      {"an ERROR packet is ignored", 2, AckFault::error_first, 2},
      {"a lost acknowledgement means one resend", 4, AckFault::lose_first, 2},
      {"the last block's acknowledgement lost", 5, AckFault::lose_first, 2},
  };
  const Bytes image = make_image(2100);  // 5 blocks, the last of 52 bytes
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recording::clear();
    TestPeer peer(device);
    peer.fault(c.block, c.fault);
    ASSERT_TRUE(transfer(image, peer));
    EXPECT_EQ(peer.image(), image);
    const std::vector<int> count = copies(peer, block_count_);
    for (std::uint32_t b = 0; b < count.size(); ++b)
      EXPECT_EQ(count[b], b == c.block ? c.copies_of_that_block : 1) << "packet " << b;
  }
}

TEST_F(TransferTest, ASilentDeviceGetsEachPacketThirtyTimesThenTheTransferFails) {
  struct Case {
    const char* what;
    std::uint32_t silent_from;
  } cases[] = {{"never acknowledges", 0}, {"stops after block 2", 3}};
  const Bytes image = make_image(3000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recording::clear();
    TestPeer peer(device);
    peer.fault(c.silent_from, AckFault::silent);
    EXPECT_FALSE(transfer(image, peer));
    const std::vector<int> count = copies(peer, block_count_);
    for (std::uint32_t b = 0; b < count.size(); ++b) {
      const int expected = b < c.silent_from ? 1 : b == c.silent_from ? 30 : 0;
      EXPECT_EQ(count[b], expected) << "packet " << b;
    }
  }
}

TEST_F(TransferTest, JunkFromEverywhereDoesNotDisturbTheTransfer) {
  const Bytes image = make_image(100000);
  TestPeer peer(device);
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  const std::uint16_t server_port = socket_local_port(server_);
  // Junk from other ports of the device's address and from the peer's own port: sizes of
  // 0 to 3 bytes, acknowledgements of the wrong block, and datagrams longer than 1024 bytes.
  std::thread junk([&] {
    const Socket stranger = udp_socket();
    socket_bind(stranger, device, 0);
    unsigned char big[1500] = {0, 4};
    const int sizes[] = {0, 1, 2, 3, 4, 1025, 1500};
    int i = 0;
    // A burst first, queued before the transfer begins, then a steady stream.
    while (!done) {
      const int size = sizes[i % 7];
      put_be16(big + 2, static_cast<std::uint32_t>(i));
      socket_send_to(stranger, big, size, pc, server_port);
      if (i % 5 == 0) socket_send_to(peer.socket(), big, size == 4 ? 3 : size, pc, server_port);
      sent = ++i;
      if (i > 150) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    socket_close(stranger);
  });
  while (sent < 150) std::this_thread::yield();
  const bool ok = transfer(image, peer);
  done = true;
  junk.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(peer.image(), image);
}

TEST(SettleWait, LastsFifteenHundredSixtyTwoTicksAcrossTheClockWrap) {
  struct Case {
    const char* what;
    std::uint32_t start;
  } cases[] = {{"no wrap", 100000},
               {"wraps during the wait", 0xFFFFFFFFu - 20000},
               {"starts just below the wrap", 0xFFFFFFFFu},
               {"starts at 0", 0}};
  copy_text(session.device_label, "10.1.0.13");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recording::clear();
    set_clock_reading(c.start);
    Window* w = create_modeless(uploading_dialog, transfer_window_proc);
    show_window(w);
    std::atomic<bool> ended{false};
    // The person's driver lets the clock jump 2 s each time the wait has shown the last jump,
    // until the wait has ended.
    std::thread driver([&] {
      const int number = window_number(w);
      for (std::size_t seen = 1; !ended; ++seen) {
        recording::wait_for(
            [&](const std::vector<recording::Note>& notes) {
              std::size_t count = 0;
              for (const auto& n : notes)
                if (n.kind == recording::Note::control_change && n.window == number) ++count;
              return ended || count > seen;
            },
            60);
        if (ended) break;
        advance_clock(2000);
      }
    });
    settle_wait(w);
    ended = true;
    destroy_window(w);  // a notification, so the driver sees the end at once
    driver.join();
    std::vector<int> pos;
    std::vector<std::string> cap;
    for (const auto& n : recording::notes()) {
      if (n.window != window_number(w)) continue;
      if (n.kind == recording::Note::control_change) pos.push_back(n.value);
      if (n.kind == recording::Note::caption) cap.push_back(n.text);
    }
    // The bar shows the ticks gone by: never back, nothing huge at the wrap, and the wait
    // ends at the first reading past 1562 ticks (a jump of 2 s is 62 ticks, plus the real
    // time between two readings).
    ASSERT_GE(pos.size(), 2u);
    for (std::size_t i = 1; i < pos.size(); ++i) EXPECT_GE(pos[i], pos[i - 1]);
    EXPECT_LT(pos[pos.size() - 2], 1562) << "still waiting before the last reading";
    EXPECT_GE(pos.back(), 1562) << "the wait must not end early";
    EXPECT_LT(pos.back(), 1562 + 62 + 20) << "nor run on past its end";
    EXPECT_EQ(cap, std::vector<std::string>{"Updating Firmware to VXT@10.1.0.13"});
    destroy_window(w);
  }
}

}  // namespace
}  // namespace vxt
