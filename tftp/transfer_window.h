// The behaviour shared by the uploading window (110) and the listener's waiting window (114):
// centred on opening; Cancel ends the process with "Upgrade Failed: User Abort".
#pragma once

#include "platform/window.h"

namespace vxt {

int transfer_window_proc(Window* window, const Event& event);

}  // namespace vxt
