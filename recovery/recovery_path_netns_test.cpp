// The recovery path after the confirm screen when the TFTP listener cannot join the group:
// the process ends with status 0 after the listener's message and names no port to the
// device. Runs inside a private network namespace (tests/in_netns).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <thread>

#include "core/session_state.h"
#include "platform/frontend_recording.h"
#include "platform/netns_guard.h"
#include "recovery/recovery_path.h"
#include "recovery/recovery_test_peer.h"

namespace vxt {
namespace {

using test::RecoveryTestPeer;
using test::ScriptedReply;
using test::SeenRequest;

// In the child: plays the person at the listener's message and leaves with 3 when it is not
// the expected one, so the exit status tells the parent.
void dismiss_the_listeners_message() {
  std::thread([] {
    const MessageSnapshot m = recording::wait_for_message(30);
    if (m.number == 0 || m.title != "Error" || m.text != "setsockopt" || m.owner != 0) _exit(3);
    gesture::dismiss(m.number, nullptr);
  }).detach();
}

TEST(RecoveryPath, AListenerThatCannotJoinTheGroupEndsTheProcessWithoutAStartRequest) {
  ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  RecoveryTestPeer device([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(device.ok()) << device.error();
  EXPECT_EXIT(
      {
        session = SessionState{};
        session.local_address = 0x0A090909;  // on no interface here: the join fails
        std::strcpy(session.recovery_serial, "VX0001");
        std::strcpy(session.tftp_file_name, "/vxt1.bin");
        dismiss_the_listeners_message();
        start_recovery_transfer();
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(device.seen().empty()) << "no start request naming port 0";
}

}  // namespace
}  // namespace vxt
