// The search worker under a modal window of dialog 105 that hands ticks to search_tick and
// ends on the worker's command, as the connecting window does; against a peer of the test's
// own inside a private network namespace (tests/in_netns).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "platform/frontend_recording.h"
#include "platform/netns_guard.h"
#include "platform/window.h"
#include "recovery/device_search.h"
#include "recovery/recovery_test_peer.h"

namespace vxt {
namespace {

using test::filled;
using test::RecoveryTestPeer;
using test::ScriptedReply;
using test::SeenRequest;

int search_window_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      start_search_worker(window);
      set_progress_range(window, 1010, 100);
      return 1;
    case Event::timer:
      search_tick(window);
      return 1;
    case Event::command:
      end_modal(window, event.id == command_ok ? 1 : 0);
      return 1;
    case Event::close:
      return 0;
  }
  return 0;
}

std::vector<int> bar_positions() {
  std::vector<int> positions;
  for (const recording::Note& n : recording::notes())
    if (n.kind == recording::Note::control_change && n.control == 1010)
      positions.push_back(n.value);
  return positions;
}

class SearchWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
    recording::clear();
    session = SessionState{};
    session.local_address = 0x7F000001;
    std::strcpy(session.recovery_serial, "VX0001");
  }
};

TEST_F(SearchWorker, AnAnsweredSearchEndsTheWindowWithOkAndLeavesTheReplyInTheSession) {
  std::vector<std::uint8_t> answer = filled(100, 0x61);
  RecoveryTestPeer peer(
      [&](int, const SeenRequest&) { return std::vector<ScriptedReply>{{answer}}; });
  ASSERT_TRUE(peer.ok()) << peer.error();
  EXPECT_EQ(run_modal(105, search_window_proc), 1);
  EXPECT_EQ(std::vector<std::uint8_t>(session.recovery_reply, session.recovery_reply + 100),
            answer);
  ASSERT_EQ(peer.seen().size(), 1u);
  const SeenRequest sent = peer.seen()[0];
  ASSERT_EQ(sent.bytes.size(), 160u);
  EXPECT_EQ(sent.bytes[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sent.bytes.data() + 4), 4), "RECM");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sent.bytes.data() + 8)), "VX0001");
  EXPECT_EQ(sent.source_address, 0x7F000001u);

  // Ticks ran on this thread while the worker waited: the bar moved one step at a time.
  const std::vector<int> bar = bar_positions();
  ASSERT_FALSE(bar.empty());
  for (std::size_t i = 0; i < bar.size(); ++i) EXPECT_EQ(bar[i], static_cast<int>(i) + 1);
  EXPECT_EQ(search_progress, bar.back());
}

TEST_F(SearchWorker, AnUnansweredSearchEndsTheWindowWithCancelAfterFiveRequests) {
  RecoveryTestPeer peer([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(peer.ok()) << peer.error();
  search_progress = 0;
  EXPECT_EQ(run_modal(105, search_window_proc), 0);
  EXPECT_EQ(peer.seen().size(), 5u);
  // The bar kept stepping by one (after 100 comes 0) for as long as the worker waited.
  const std::vector<int> bar = bar_positions();
  ASSERT_FALSE(bar.empty());
  for (std::size_t i = 1; i < bar.size(); ++i)
    EXPECT_TRUE(bar[i] == bar[i - 1] + 1 || (bar[i] == 0 && bar[i - 1] == 100)) << i;
}

}  // namespace
}  // namespace vxt
