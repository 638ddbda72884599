#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/frontend_recording.h"
#include "platform/window.h"

namespace vxt {
namespace {

// Dialogs used here: 141 (buttons 1028/1029, read-only text 1031), 142 (upper-case serial
// box 1027, drop-down 1017), 101 (IPv4 field 1000).
constexpr int welcome = 141;
constexpr int recovery_entry = 142;
constexpr int address = 101;

// What a procedure saw, shared with the test.
struct Seen {
  std::mutex mutex;
  std::vector<Event> events;
  std::vector<std::thread::id> threads;
  void add(const Event& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<Event> copy() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
};
Seen* seen = nullptr;

int recording_proc(Window*, const Event& e) {
  seen->add(e);
  return 1;
}

// Ends the modal run with the command number it receives; leaves close to the default.
int ending_proc(Window* w, const Event& e) {
  seen->add(e);
  if (e.kind == Event::command) end_modal(w, e.id);
  return e.kind == Event::close ? 0 : 1;
}

class WindowModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::clear();
    seen = &seen_;
  }
  Seen seen_;
};

TEST_F(WindowModelTest, ModalRunReturnsTheResultItsProcedureEndsItWith) {
  auto result = std::async(std::launch::async, [] { return run_modal(welcome, ending_proc); });
  const int number = recording::wait_for_window(welcome);
  ASSERT_NE(number, 0);
  EXPECT_EQ(gesture::newest_window_of_dialog(welcome), number);
  std::string error;
  ASSERT_TRUE(gesture::press(number, 1029, &error)) << error;
  EXPECT_EQ(result.get(), 1029);
  const auto events = seen_.copy();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Event::open);  // before it was shown
  EXPECT_EQ(events[1].kind, Event::command);
  EXPECT_EQ(gesture::newest_window_of_dialog(welcome), 0);
  const auto notes = recording::notes();
  EXPECT_EQ(notes.back().kind, recording::Note::destroyed);
  EXPECT_EQ(notes.back().value, 1029);
}

TEST_F(WindowModelTest, UnhandledCloseBecomesCancelAndEnterPressesTheDefaultButton) {
  auto closed = std::async(std::launch::async, [] { return run_modal(welcome, ending_proc); });
  int number = recording::wait_for_window(welcome);
  ASSERT_TRUE(gesture::close(number, nullptr));
  EXPECT_EQ(closed.get(), command_cancel);

  recording::clear();
  auto entered = std::async(std::launch::async, [] { return run_modal(welcome, ending_proc); });
  number = recording::wait_for_window(welcome);
  ASSERT_TRUE(gesture::key_enter(number, nullptr));
  EXPECT_EQ(entered.get(), 1028);  // the welcome screen's default button
}

TEST_F(WindowModelTest, ModelessEventsWaitUntilTheOwnerPolls) {
  Window* w = create_modeless(welcome, recording_proc);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(seen_.copy().size(), 1u);  // open, delivered at creation
  show_window(w);
  std::string error;
  ASSERT_TRUE(gesture::press(window_number(w), 1028, &error)) << error;
  ASSERT_TRUE(gesture::press(window_number(w), 1029, &error)) << error;
  EXPECT_EQ(seen_.copy().size(), 1u);
  EXPECT_EQ(pending_event_count(w), 2);

  EXPECT_TRUE(poll_event(w));  // one at a time
  EXPECT_EQ(seen_.copy().size(), 2u);
  EXPECT_TRUE(poll_event(w));
  EXPECT_FALSE(poll_event(w));
  const auto events = seen_.copy();
  EXPECT_EQ(events[1].id, 1028);
  EXPECT_EQ(events[2].id, 1029);

  destroy_window(w);
  EXPECT_FALSE(gesture::press(window_number(w), 1028, &error));
  EXPECT_FALSE(poll_event(w));
}

std::atomic<bool> sender_returned{false};

int checks_sender_still_waiting_proc(Window*, const Event& e) {
  if (e.kind == Event::command) {
    // The sender must still be blocked while its command is being handled.
    seen->add(Event{Event::command, sender_returned.load() ? -1 : e.id});
  }
  return 1;
}

TEST_F(WindowModelTest, SendCommandWaitsUntilTheOwnerHasHandledIt) {
  sender_returned = false;
  Window* w = create_modeless(welcome, checks_sender_still_waiting_proc);
  auto sender = std::async(std::launch::async, [w] {
    const bool handled = send_command(w, command_ok);
    sender_returned = true;
    return handled;
  });
  while (!poll_event(w)) std::this_thread::yield();
  EXPECT_TRUE(sender.get());
  const auto events = seen_.copy();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, command_ok);
  destroy_window(w);
}

TEST_F(WindowModelTest, SendCommandToAGoneWindowReturnsAtOnce) {
  Window* gone = create_modeless(welcome, recording_proc);
  destroy_window(gone);
  EXPECT_FALSE(send_command(gone, command_ok));

  // A sender waiting on a window that goes away is released, whether its command was queued
  // before the window went or not.
  Window* w = create_modeless(welcome, recording_proc);
  auto sender = std::async(std::launch::async, [w] { return send_command(w, command_cancel); });
  while (pending_event_count(w) == 0 &&
         sender.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
  }
  destroy_window(w);
  EXPECT_FALSE(sender.get());
  EXPECT_EQ(seen_.copy().size(), 2u);  // the two open events; no command was ever delivered
}

TEST_F(WindowModelTest, TimerTicksCoalesceAndRunOnTheOwnerThread) {
  Window* w = create_modeless(welcome, recording_proc);
  start_timer(w, 1);
  // Let several periods pass without polling: at most one tick waits.
  while (pending_event_count(w) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(pending_event_count(w), 1);
  stop_timer(w);
  EXPECT_TRUE(poll_event(w));
  EXPECT_FALSE(poll_event(w));

  // Started and stopped from another thread; handled on the owner's.
  std::thread([w] { start_timer(w, 1); }).join();
  while (!poll_event(w)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread([w] { stop_timer(w); }).join();
  destroy_window(w);
  std::lock_guard<std::mutex> lock(seen_.mutex);
  ASSERT_EQ(seen_.events.size(), 3u);
  for (std::size_t i = 1; i < seen_.events.size(); ++i) {
    EXPECT_EQ(seen_.events[i].kind, Event::timer);
    EXPECT_EQ(seen_.threads[i], std::this_thread::get_id());
  }
}

TEST_F(WindowModelTest, OwnedMessageBlocksItsCallerAndItsOwnerUntilDismissed) {
  Window* w = create_modeless(welcome, recording_proc);
  show_window(w);
  std::atomic<bool> returned{false};
  std::thread caller([w, &returned] {
    message_box(w, "Error", "Invalid IP Address");
    returned = true;
  });
  const MessageSnapshot m = recording::wait_for_message();
  ASSERT_NE(m.number, 0);
  EXPECT_EQ(m.owner, window_number(w));
  EXPECT_EQ(m.title, "Error");
  EXPECT_EQ(m.text, "Invalid IP Address");
  EXPECT_FALSE(m.task_modal);
  std::string error;
  EXPECT_FALSE(gesture::press(window_number(w), 1028, &error));
  EXPECT_NE(error.find("blocked"), std::string::npos);
  EXPECT_FALSE(returned.load());

  ASSERT_TRUE(gesture::dismiss(m.number, &error)) << error;
  // The very next gesture finds the owner free, whether or not the caller has woken yet.
  EXPECT_TRUE(gesture::press(window_number(w), 1028, &error)) << error;
  caller.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(gesture::dismiss(m.number, &error));

  // The front end hears of the block before the message shows and of its end before it goes.
  std::vector<recording::Note::Kind> order;
  for (const recording::Note& n : recording::notes()) {
    if (n.kind == recording::Note::blocked) {
      EXPECT_EQ(n.window, window_number(w));
    }
    if (n.kind == recording::Note::blocked || n.kind == recording::Note::message_open ||
        n.kind == recording::Note::message_closed)
      order.push_back(n.kind);
  }
  EXPECT_EQ(order, (std::vector<recording::Note::Kind>{
                       recording::Note::blocked, recording::Note::message_open,
                       recording::Note::blocked, recording::Note::message_closed}));
  destroy_window(w);
}

TEST_F(WindowModelTest, TaskModalMessageBlocksOnlyTheCallingThreadsWindows) {
  Window* mine = create_modeless(welcome, recording_proc);
  show_window(mine);
  Window* theirs = nullptr;
  std::promise<void> shown;
  std::promise<void> done;
  std::thread other([&] {
    theirs = create_modeless(welcome, recording_proc);
    show_window(theirs);
    shown.set_value();
    task_modal_message_box("VXT Firwmare Upgrade Error", "Upgrade Failed: User Abort");
    done.set_value();
  });
  shown.get_future().wait();
  const MessageSnapshot m = recording::wait_for_message();
  EXPECT_TRUE(m.task_modal);
  EXPECT_EQ(m.owner, 0);
  EXPECT_FALSE(gesture::press(window_number(theirs), 1028, nullptr));
  EXPECT_TRUE(gesture::press(window_number(mine), 1028, nullptr));
  for (const recording::Note& n : recording::notes()) {
    if (n.kind == recording::Note::blocked) {
      EXPECT_EQ(n.window, window_number(theirs));
    }
  }
  ASSERT_TRUE(gesture::dismiss(m.number, nullptr));
  done.get_future().wait();
  other.join();
  destroy_window(theirs);
  destroy_window(mine);
}

TEST_F(WindowModelTest, TypingFollowsTheControlsNature) {
  Window* w = create_modeless(recovery_entry, recording_proc);
  Window* a = create_modeless(address, recording_proc);
  show_window(w);
  show_window(a);
  const int n = window_number(w);
  struct Case {
    const char* name;
    Window* window;
    int control;
    std::string typed;
    bool accepted;
    const char* stored;
  };
  const Case cases[] = {
      {"serial box capitalises letters only", w, 1027, "ab-12z\xe9", true, "AB-12Z\xe9"},
      {"text after a NUL never arrives", w, 1027, std::string("ab\0cd", 5), true, "AB"},
      {"empty text", w, 1027, "", true, ""},
      {"IPv4 field keeps the text as given", a, 1000, "1.2.3.4 xyz", true, "1.2.3.4 xyz"},
      {"read-only text takes no typing", w, 1031, "x", false, nullptr},
      {"unknown control", w, 4242, "x", false, nullptr},
      {"a button takes no typing", w, 1, "x", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(gesture::type_text(window_number(c.window), c.control, c.typed, &error), c.accepted);
    if (!c.accepted) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_TRUE(poll_event(c.window)) << "typing waits in the queue for its turn";
    char buffer[64];
    EXPECT_EQ(get_control_text(c.window, c.control, buffer, sizeof buffer),
              static_cast<int>(std::strlen(c.stored)));
    EXPECT_STREQ(buffer, c.stored);
  }
  EXPECT_FALSE(gesture::type_text(n + 1000, 1027, "x", nullptr));
  destroy_window(w);
  destroy_window(a);
}

// Records, at each command, what the address field and the chooser held.
std::vector<std::string> texts_at_command;
std::vector<int> selections_at_command;
int reading_proc(Window* w, const Event& e) {
  if (e.kind == Event::command) {
    char text[64];
    get_control_text(w, 1000, text, sizeof text);
    texts_at_command.push_back(text);
    selections_at_command.push_back(list_selection(w, 1017));
  }
  return 1;
}

TEST_F(WindowModelTest, GesturesTakeEffectInTheOrderTheyWereMade) {
  texts_at_command.clear();
  selections_at_command.clear();
  Window* w = create_modeless(address, reading_proc);
  list_append(w, 1017, "10.1.0.2");
  list_append(w, 1017, "127.0.0.1");
  list_select(w, 1017, 0);
  show_window(w);
  const int n = window_number(w);
  std::string error;
  ASSERT_TRUE(gesture::type_text(n, 1000, "10.1.0.13", &error)) << error;
  ASSERT_TRUE(gesture::press(n, command_ok, &error)) << error;
  ASSERT_TRUE(gesture::type_text(n, 1000, "1.2.3", &error)) << error;
  ASSERT_TRUE(gesture::select(n, 1017, 1, &error)) << error;
  ASSERT_TRUE(gesture::key_enter(n, &error)) << error;
  char text[64];
  get_control_text(w, 1000, text, sizeof text);
  EXPECT_STREQ(text, "") << "nothing changes before the owner gets to it";
  while (poll_event(w)) {
  }
  EXPECT_EQ(texts_at_command, (std::vector<std::string>{"10.1.0.13", "1.2.3"}));
  EXPECT_EQ(selections_at_command, (std::vector<int>{0, 1}));
  destroy_window(w);
}

TEST_F(WindowModelTest, AGestureWhoseWindowEndsFirstIsRefusedAloud) {
  Window* w = create_modeless(address, recording_proc);
  show_window(w);
  const int n = window_number(w);
  ASSERT_TRUE(gesture::press(n, command_ok, nullptr));
  ASSERT_TRUE(gesture::type_text(n, 1000, "1.2.3.4", nullptr));
  ASSERT_TRUE(gesture::close(n, nullptr));
  destroy_window(w);
  std::vector<std::string> refusals;
  bool destroyed_first = false;
  for (const recording::Note& note : recording::notes()) {
    if (note.kind == recording::Note::destroyed) destroyed_first = refusals.empty();
    if (note.kind == recording::Note::refused) refusals.push_back(note.text);
  }
  EXPECT_TRUE(destroyed_first);
  ASSERT_EQ(refusals.size(), 3u);
  const std::string window = "window " + std::to_string(n);
  const char* const gestures[] = {"press 1", "type into 1000", "close"};
  for (std::size_t i = 0; i < refusals.size(); ++i) {
    EXPECT_NE(refusals[i].find(window), std::string::npos) << refusals[i];
    EXPECT_NE(refusals[i].find(gestures[i]), std::string::npos) << refusals[i];
  }
  EXPECT_EQ(seen_.copy().size(), 1u) << "only the open event was ever delivered";
}

TEST_F(WindowModelTest, ReadingATextNeverPassesTheGivenCount) {
  Window* w = create_modeless(welcome, recording_proc);
  set_control_text(w, 1031, "0123456789");
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(get_control_text(w, 1031, buffer, 5), 4);
  EXPECT_STREQ(buffer, "0123");
  EXPECT_EQ(buffer[5], 'x');
  EXPECT_EQ(get_control_text(w, 1031, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(get_control_text(w, 4242, buffer, sizeof buffer), 0);
  EXPECT_EQ(get_control_text(w, 1031, buffer, 0), 0);  // nothing written, nothing read
  destroy_window(w);
}

TEST_F(WindowModelTest, ListsProgressFocusAndGeometryLiveInTheModel) {
  Window* w = create_modeless(recovery_entry, recording_proc);
  EXPECT_EQ(list_selection(w, 1017), -1);
  list_append(w, 1017, "10.1.0.2");
  list_append(w, 1017, "127.0.0.1");
  list_select(w, 1017, 0);
  show_window(w);
  EXPECT_EQ(list_selection(w, 1017), 0);
  EXPECT_TRUE(gesture::select(window_number(w), 1017, 1, nullptr));
  EXPECT_TRUE(poll_event(w));
  EXPECT_EQ(list_selection(w, 1017), 1);
  EXPECT_FALSE(gesture::select(window_number(w), 1017, 2, nullptr));
  EXPECT_FALSE(gesture::select(window_number(w), 1017, -1, nullptr));
  list_select(w, 1017, 7);  // out of range selects nothing
  EXPECT_EQ(list_selection(w, 1017), -1);

  set_focus(w, 1027);
  EXPECT_EQ(focused_control(w), 1027);

  Rect r{};
  ASSERT_TRUE(window_rect(w, &r));
  move_window(w, -3, 40);
  Rect moved{};
  ASSERT_TRUE(window_rect(w, &moved));
  EXPECT_EQ(moved.left, -3);
  EXPECT_EQ(moved.top, 40);
  EXPECT_EQ(moved.right - moved.left, r.right - r.left);  // size unchanged
  EXPECT_EQ(moved.bottom - moved.top, r.bottom - r.top);
  destroy_window(w);
  EXPECT_FALSE(window_rect(w, &r));
}

TEST_F(WindowModelTest, ProgressRangeIsSixteenBitsAndPositionsOutsideItAreKept) {
  Window* w = create_modeless(105, recording_proc);  // the connecting window: bar 1010
  set_progress_range(w, 1010, 0x10000 + 1562);
  set_progress_position(w, 1010, 1600);  // beyond the range
  show_window(w);
  const int number = recording::wait_for_window(105);
  const ControlState* bar = nullptr;
  const auto notes = recording::notes();
  for (const auto& n : notes) {
    if (n.kind != recording::Note::shown || n.window != number) continue;
    for (const ControlState& c : n.snapshot.controls) {
      if (c.id == 1010) bar = &c;
    }
  }
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->range_min, 0);
  EXPECT_EQ(bar->range_max, 1562);
  EXPECT_EQ(bar->position, 1600);
  destroy_window(w);
}

}  // namespace
}  // namespace vxt
