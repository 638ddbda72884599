#include "core/entry.h"

#include "core/address_screen.h"
#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/start_up.h"
#include "core/upgrade_path.h"
#include "core/warning_screen.h"
#include "core/welcome_screen.h"
#include "recovery/recovery_entry_screen.h"
#include "recovery/recovery_path.h"
#include "recovery/recovery_reply.h"
#include "recovery/recovery_socket.h"

namespace vxt {

int wizard_entry() {
  start_up();
  if (run_welcome_screen() == 0) return 0;

  int screen_result = 0;
  if (session.mode == 1) {
    if (run_warning_screen() == 0) return 0;
    screen_result = run_address_screen();
  } else {
    if (run_recovery_entry_screen() == 0) return 0;
    screen_result = run_device_search();
    decode_recovery_reply();
  }

  // A reply naming 0.0.0.0 ends silently; the recovery socket is closed on every way out.
  if (screen_result == 0 || session.device_address == 0) {
    close_recovery_socket();
    return 0;
  }

  if (session.mode == 1) {
    screen_result = request_device_information();
    if (screen_result <= 0) {
      report_failure("Upgrade Failed: No Response From VXT");
      close_recovery_socket();
      return 0;
    }
  }

  if (run_confirm_screen() == 0) {
    report_failure("Upgrade Failed: User Abort");
    close_recovery_socket();
    return 0;
  }

  if (session.mode == 1) start_upgrade_transfer();
  start_recovery_transfer();
}

}  // namespace vxt
