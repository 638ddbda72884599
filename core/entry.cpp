#include "core/entry.h"

#include "core/address_screen.h"
#include "core/session_state.h"
#include "core/start_up.h"
#include "core/warning_screen.h"
#include "core/welcome_screen.h"

namespace vxt {

int wizard_entry() {
  start_up();
  if (run_welcome_screen() == 0) return 0;

  int screen_result = 0;
  if (session.mode == 1) {
    if (run_warning_screen() == 0) return 0;
    screen_result = run_address_screen();
  } else {
    // The recovery path joins the chain here.
    return 0;
  }

  if (screen_result == 0 || session.device_address == 0) return 0;

  // The upgrade path (device information, confirm screen, listener, command) joins here.
  return 0;
}

}  // namespace vxt
