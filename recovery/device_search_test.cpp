// The search tick on the connecting window's bar.
#include <gtest/gtest.h>

#include <vector>

#include "platform/frontend_recording.h"
#include "platform/window.h"
#include "recovery/device_search.h"

namespace vxt {
namespace {

int ignore_events(Window*, const Event&) { return 1; }

TEST(SearchTick, TheBarClimbsToAHundredThenStartsAgainFromZero) {
  recording::clear();
  Window* window = create_modeless(105, ignore_events);
  ASSERT_NE(window, nullptr);
  show_window(window);
  search_progress = 98;
  std::vector<int> shown;
  for (int i = 0; i < 5; ++i) {
    search_tick(window);
    shown.push_back(search_progress);
  }
  EXPECT_EQ(shown, (std::vector<int>{99, 100, 0, 1, 2}));
  std::vector<int> bar;
  for (const recording::Note& n : recording::notes())
    if (n.kind == recording::Note::control_change && n.control == 1010) bar.push_back(n.value);
  EXPECT_EQ(bar, shown);
  destroy_window(window);
}

}  // namespace
}  // namespace vxt
