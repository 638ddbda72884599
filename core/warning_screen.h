// The warning screen (dialog 139) shown before an upgrade.
#pragma once

namespace vxt {

constexpr int warning_dialog = 139;

// 1 = Continue, 0 = Cancel.
int run_warning_screen();

}  // namespace vxt
