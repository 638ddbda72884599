#include "core/center_window.h"

namespace vxt {

int centered_origin(int screen_extent, int window_extent) {
  const long long d = static_cast<long long>(screen_extent) - window_extent;
  return static_cast<int>(d >= 0 ? d / 2 : -((-d + 1) / 2));
}

void center_window(Window* window) {
  Rect r{};
  if (!window_rect(window, &r)) return;
  const Size screen = screen_size();
  move_window(window, centered_origin(screen.width, r.right - r.left),
              centered_origin(screen.height, r.bottom - r.top));
}

}  // namespace vxt
