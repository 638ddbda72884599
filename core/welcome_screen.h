// The welcome screen (dialog 141): the person chooses between upgrading and recovering.
#pragma once

namespace vxt {

constexpr int welcome_dialog = 141;

// Sets `mode` and returns 1, or returns 0 when the window was closed.
int run_welcome_screen();

}  // namespace vxt
