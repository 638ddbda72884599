#include "recovery/recovery_entry_screen.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/local_address_chooser.h"
#include "core/random.h"
#include "core/session_state.h"
#include "core/text.h"
#include "platform/window.h"

namespace vxt {
namespace {

constexpr int serial_box = 1027;
constexpr int introduction_box = 1031;
constexpr int version_line = 1032;
constexpr int instructions_box = 1030;

constexpr const char* introduction =
    "You can use this utility to recover a VXT unit\r\nwith a corrupted firmware image to:";

constexpr const char* common_instructions =
    "Otherwise, restart this utility and select the\r\n[Upgrade Firmware] option. To continue, "
    "you must\r\nprovide the serial number of the VXT unit.\r\nThe serial number is printed on "
    "the bar code\r\nlabel located at the back cover of the unit.\r\nPlease also make sure that "
    "the VXT is in the\r\nsame subnet as this PC.\r\n";

constexpr const char* adapter_check =
    "Before proceeding, please confirm that the VXT's\r\nStatus LED is blinking repeatedly with "
    "the pattern:\r\nshort-short-short-long-long-short-short-short.\r\n";

constexpr const char* phone_check =
    "Before proceeding, please confirm that the IP\r\nPhone screen is showing the "
    "message:\r\n\"S.O.S. Phone In Recovery Mode\"\r\n";

void open_recovery_entry_screen(Window* window) {
  fill_local_address_chooser(window);
  set_control_text(window, introduction_box, introduction);
  char version[64];
  std::snprintf(version, sizeof version, "Version %s", session.image.version_text);
  set_control_text(window, version_line, version);
  char instructions[640];
  std::snprintf(instructions, sizeof instructions, "%s%s",
                session.device_kind == 1 ? phone_check : adapter_check, common_instructions);
  set_control_text(window, instructions_box, instructions);
  set_focus(window, serial_box);
  center_window(window);
}

void accept_serial(Window* window) {
  draw_tftp_file_name();
  // The box capitalises as the person types; only the first 19 characters count.
  get_control_text(window, serial_box, session.recovery_serial, sizeof session.recovery_serial);
  copy_text(session.device_label, session.recovery_serial);
  session.local_address = chosen_local_address(window);
  end_modal(window, 1);
}

int recovery_entry_screen_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      open_recovery_entry_screen(window);
      return 1;
    case Event::command:
      if (event.id == command_ok) accept_serial(window);
      if (event.id == command_cancel) end_modal(window, 0);
      return 1;
    case Event::close:
      return 0;  // becomes Cancel
    case Event::timer:
      return 1;
  }
  return 0;
}

}  // namespace

int run_recovery_entry_screen() {
  return run_modal(recovery_entry_dialog, recovery_entry_screen_proc);
}

}  // namespace vxt
