#include "core/entry.h"

#include "core/address_screen.h"
#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/start_up.h"
#include "core/upgrade_path.h"
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

  if (session.mode == 1) {
    screen_result = request_device_information();
    if (screen_result <= 0) {
      report_failure("Upgrade Failed: No Response From VXT");
      return 0;
    }
  }

  if (run_confirm_screen() == 0) {
    report_failure("Upgrade Failed: User Abort");
    return 0;
  }

  // The TFTP listener and the mode's command join here.
  return 0;
}

}  // namespace vxt
