// Windows 110, 111 and 114 as the person sees them (the recording front end).
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "core/center_window.h"
#include "core/session_state.h"
#include "core/text.h"
#include "platform/frontend_recording.h"
#include "tftp/success_window.h"
#include "tftp/tftp_session.h"
#include "tftp/transfer_window.h"

namespace vxt {
namespace {

WindowSnapshot shown_snapshot(int number) {
  for (const recording::Note& n : recording::notes())
    if (n.kind == recording::Note::shown && n.window == number) return n.snapshot;
  ADD_FAILURE() << "window " << number << " was not shown";
  return {};
}

std::string text_of(const WindowSnapshot& w, int id) {
  for (const ControlState& c : w.controls)
    if (c.id == id) return c.text;
  return "<no control>";
}

void expect_centred(const WindowSnapshot& w) {
  const Size screen = screen_size();
  EXPECT_EQ(w.x, centered_origin(screen.width, w.width));
  EXPECT_EQ(w.y, centered_origin(screen.height, w.height));
}

TEST(TransferWindows, UploadingAndWaitingWindowsOpenCentredWithTheirTexts) {
  struct Case {
    int dialog;
    const char* caption;
    int width_units, height_units;
  } cases[] = {{110, "Uploading Firmware To VXT", 244, 77},
               {114, "Waiting For Firmware Download Request From VXT", 294, 135}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    recording::clear();
    Window* w = create_modeless(c.dialog, transfer_window_proc);
    show_window(w);
    const WindowSnapshot s = shown_snapshot(window_number(w));
    EXPECT_EQ(s.caption, c.caption);
    EXPECT_EQ(s.width_units, c.width_units);
    EXPECT_EQ(s.height_units, c.height_units);
    expect_centred(s);
    EXPECT_EQ(text_of(s, 2), "Cancel");
    destroy_window(w);
  }
}

TEST(SuccessWindow, ShowsTheVersionTheDeviceReportsAndEndsWithOkOrClose) {
  copy_text(session.device_label, "10.1.0.13");
  copy_text(session.device_info.software_version, "2.4.1-device");
  copy_text(session.image.version_text, "3.1.8-standin");
  struct Case {
    const char* what;
    bool (*gesture)(int, std::string*);
    int result;
  } cases[] = {
      {"OK", [](int w, std::string* e) { return gesture::press(w, 1, e); }, 1},
      {"Enter", gesture::key_enter, 1},
      {"close box", gesture::close, 0},
      {"Escape", gesture::key_escape, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recording::clear();
    auto result = std::async(std::launch::async,
                             [] { return run_modal(success_dialog, success_window_proc); });
    const int number = recording::wait_for_window(success_dialog);
    ASSERT_NE(number, 0);
    const WindowSnapshot s = shown_snapshot(number);
    EXPECT_TRUE(s.modal);
    EXPECT_EQ(s.caption, "VXT@10.1.0.13 Upgrade Successful!");
    EXPECT_EQ(text_of(s, 1007),
              "Your VXT has been successfully\r\nupgraded to the version shown\r\nbelow.");
    EXPECT_EQ(text_of(s, 1004), "2.4.1-device") << "the device's answer, not the image's version";
    EXPECT_EQ(text_of(s, no_control_id), "www.example.com");
    expect_centred(s);
    ASSERT_TRUE(c.gesture(number, nullptr));
    EXPECT_EQ(result.get(), c.result);
  }
}

}  // namespace
}  // namespace vxt
