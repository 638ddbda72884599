// The connecting window (dialog 105): a moving bar and a Cancel button while the wizard waits
// for the device, over a web request or the device search.
#pragma once

#include "platform/window.h"

namespace vxt {

constexpr int connecting_dialog = 105;
constexpr int connecting_progress_bar = 1010;

// The window as run_web_request opens it: it starts nothing of its own.
int connecting_window_proc(Window* window, const Event& event);

// The same behaviour; start_search (may be null) runs while the window opens, after it is
// centred and before the bar's range is set. OK ends a modal run with 1; Cancel destroys the
// window, reports the mode's failure and ends the process.
int connecting_window_event(Window* window, const Event& event, void (*start_search)(Window*));

}  // namespace vxt
