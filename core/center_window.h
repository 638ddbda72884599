// Every screen centres itself on the primary screen when it opens.
#pragma once

#include "platform/window.h"

namespace vxt {

// (screen - window) halved, rounded toward minus infinity: a window larger than the screen
// gets a negative origin.
int centered_origin(int screen_extent, int window_extent);

void center_window(Window* window);

}  // namespace vxt
