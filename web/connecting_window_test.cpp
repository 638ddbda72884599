#include "web/connecting_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "core/session_state.h"
#include "platform/clock.h"
#include "platform/frontend_recording.h"
#include "platform/window.h"

namespace vxt {
namespace {

// What the window looked like when the search was started.
Rect rect_at_search;
bool searched = false;

void note_search(Window* window) {
  searched = true;
  window_rect(window, &rect_at_search);
  set_progress_range(window, connecting_progress_bar, 7);  // the opening sets 100 after this
}

int window_with_search(Window* window, const Event& event) {
  return connecting_window_event(window, event, note_search);
}

WindowSnapshot shown_snapshot(int number) {
  for (const recording::Note& n : recording::notes())
    if (n.kind == recording::Note::shown && n.window == number) return n.snapshot;
  return {};
}

TEST(ConnectingWindow, OpeningOrderWithAndWithoutSearch) {
  session = SessionState{};
  std::strcpy(session.device_label, "VX-SERIAL-0123456789-ABCDEFGHIJ");  // 31 characters
  for (const bool with_search : {false, true}) {
    SCOPED_TRACE(with_search);
    recording::clear();
    searched = false;
    Window* w = create_modeless(connecting_dialog,
                                with_search ? window_with_search : connecting_window_proc);
    show_window(w);
    const WindowSnapshot s = shown_snapshot(window_number(w));
    EXPECT_EQ(s.caption, "Connecting with VXT@VX-SERIAL-0123456789-ABCDEFGHIJ");
    EXPECT_EQ(searched, with_search);
    ASSERT_FALSE(s.controls.empty());
    EXPECT_EQ(s.controls[0].id, connecting_progress_bar);
    EXPECT_EQ(s.controls[0].range_max, 100);
    EXPECT_EQ(s.controls[0].position, 0);
    if (with_search) {
      // Centred before the search started.
      EXPECT_EQ(rect_at_search.left, s.x);
      EXPECT_EQ(rect_at_search.top, s.y);
      EXPECT_EQ(s.x, (1024 - s.width) >> 1);
    }
    destroy_window(w);
  }
}

// The device search runs the window modally; its worker ends it through OK, delivered from
// another thread.
void answer_from_another_thread(Window* window) {
  std::thread([window] { send_command(window, command_ok); }).detach();
}

int window_answered_at_once(Window* window, const Event& event) {
  return connecting_window_event(window, event, answer_from_another_thread);
}

TEST(ConnectingWindow, OkFromTheSearchEndsTheModalRunWithOne) {
  recording::clear();
  EXPECT_EQ(run_modal(connecting_dialog, window_answered_at_once), 1);
}

// Cancel in either mode: the window goes first, then the mode's message, then the end.
TEST(ConnectingWindowDeathTest, CancelReportsTheModesMessageAndEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    int mode;
    const char* message;
  } cases[] = {{1, "Upgrade Failed: User Abort"},
               {0, "Recovery Failed: Cannot find the specified device!"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EXIT(
        {
          session = SessionState{};
          session.mode = c.mode;
          recording::clear();
          Window* w = create_modeless(connecting_dialog, connecting_window_proc);
          show_window(w);
          std::thread person([] {
            const MessageSnapshot m = recording::wait_for_message();
            bool destroyed = false;
            for (const recording::Note& n : recording::notes())
              if (n.kind == recording::Note::destroyed) destroyed = true;
            std::fprintf(stderr, "message[%s] title[%s] destroyed-first[%d]\n", m.text.c_str(),
                         m.title.c_str(), destroyed ? 1 : 0);
            gesture::dismiss(m.number, nullptr);
          });
          person.detach();
          gesture::press(window_number(w), command_cancel, nullptr);
          for (;;) {
            poll_event(w);
            sleep_ms(1);
          }
        },
        ::testing::ExitedWithCode(0),
        std::string("message\\[") + c.message +
            "\\] title\\[VXT Firwmare Upgrade Error\\] destroyed-first\\[1\\]");
  }
}

}  // namespace
}  // namespace vxt
