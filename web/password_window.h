// The password window (dialog 104): asks for the user name and password the device demands.
#pragma once

#include "platform/window.h"

namespace vxt {

constexpr int password_dialog = 104;
constexpr int password_user_box = 1003;
constexpr int password_password_box = 1005;
constexpr int password_help_box = 1007;

// OK stores both boxes in session.digest (at most 126 characters each) and ends with 1; Cancel
// ends with 0 and leaves them as they were.
int password_window_proc(Window* window, const Event& event);

}  // namespace vxt
