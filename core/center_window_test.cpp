#include "core/center_window.h"

#include <gtest/gtest.h>

#include "platform/frontend_recording.h"

namespace vxt {
namespace {

TEST(CenteredOrigin, HalvesTheDifferenceRoundingDown) {
  struct Case {
    int screen, window, origin;
  } cases[] = {
      {1024, 1029, -3}, {1024, 1024, 0}, {1024, 1023, 0},   {1024, 288, 368},
      {768, 769, -1},   {0, 1, -1},      {100, 2000, -950},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.window);
    EXPECT_EQ(centered_origin(c.screen, c.window), c.origin);
  }
}

int quiet_proc(Window*, const Event&) { return 1; }

TEST(CenterWindow, MovesTheWindowToTheScreensMiddleWithoutResizing) {
  frontend::Metrics m;
  m.base_x = 6;
  m.base_y = 13;
  m.screen_width = 1024;
  m.screen_height = 768;
  recording::set_metrics(m);
  Window* w = create_modeless(141, quiet_proc);  // 192 x 149 units: 288 x 242 pixels
  center_window(w);
  Rect r{};
  ASSERT_TRUE(window_rect(w, &r));
  EXPECT_EQ(r.right - r.left, 288);
  EXPECT_EQ(r.bottom - r.top, 242);
  EXPECT_EQ(r.left, 368);
  EXPECT_EQ(r.top, 263);
  destroy_window(w);
  center_window(w);  // a window that is gone: nothing happens
}

}  // namespace
}  // namespace vxt
