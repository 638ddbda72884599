#include "web/password_window.h"

#include "core/center_window.h"
#include "core/session_state.h"

namespace vxt {
namespace {

constexpr const char* help_text =
    "This VXT requires a password in order to be\r\nupgraded. If you do not have "
    "administrator's\r\nprivileges for this unit, please contact your\r\nService Provider or "
    "network administrator,\r\nbefore proceeding.\r\n\r\nYou must provide the VXT "
    "administrator's\r\npassword to upgrade. If you are the administrator\r\nand forgot the "
    "password, you may perform a\r\nfactory reset by entering # # # #, option 51946#,\r\nand "
    "value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n"
    "* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
    "All settings will revert to default values\r\nafter factory reset!  You may not be able "
    "to\r\nreestablish service after completing this upgrade\r\nwithout first reentering service "
    "configuration\r\ninformation.";

// 126 characters and the terminator.
constexpr int credential_room = 127;

}  // namespace

int password_window_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      set_control_text(window, password_help_box, help_text);
      set_control_text(window, password_user_box, "admin");
      set_focus(window, password_password_box);
      center_window(window);
      return 1;
    case Event::command:
      if (event.id == command_ok) {
        get_control_text(window, password_user_box, session.digest.user, credential_room);
        get_control_text(window, password_password_box, session.digest.password, credential_room);
        end_modal(window, 1);
      } else if (event.id == command_cancel) {
        end_modal(window, 0);
      }
      return 1;
    case Event::close:
      return 0;  // becomes Cancel
    case Event::timer:
      return 1;
  }
  return 0;
}

}  // namespace vxt
