// The success window (111), shown after the device has answered the check that follows the
// upload: caption with the device's label, and the version the device now reports.
#pragma once

#include "platform/window.h"

namespace vxt {

constexpr int success_version_field = 1004;
constexpr int success_text_area = 1007;

int success_window_proc(Window* window, const Event& event);

}  // namespace vxt
