#include "core/welcome_screen.h"

#include "core/center_window.h"
#include "core/session_state.h"
#include "platform/window.h"

namespace vxt {
namespace {

constexpr int upgrade_button = 1028;
constexpr int recover_button = 1029;
constexpr int welcome_text_box = 1031;

constexpr const char* welcome_text =
    "Welcome to the Tavero Firmware Upgrade Utility!\r\n\r\nTo begin, select the [Upgrade Firmware]"
    "\r\noption if you would like upgrade the fimrware\r\non a normal VXT unit.\r\n\r\nIf your VXT "
    "has a corrupted image and the\r\nStatus LED is blinking irratically, select\r\nthe [Recover "
    "Firmware] option and follow the\r\non-screen instructions.";

int welcome_screen_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      set_control_text(window, welcome_text_box, welcome_text);
      set_focus(window, upgrade_button);
      center_window(window);
      return 1;
    case Event::close:
      // Closing is the only way out; Escape (command 2) is ignored below.
      end_modal(window, 0);
      return 1;
    case Event::command:
      if (event.id == upgrade_button || event.id == recover_button) {
        session.mode = event.id == upgrade_button ? 1 : 0;
        end_modal(window, 1);
      }
      return 1;
    case Event::timer:
      return 0;
  }
  return 0;
}

}  // namespace

int run_welcome_screen() { return run_modal(welcome_dialog, welcome_screen_proc); }

}  // namespace vxt
