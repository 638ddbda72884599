#include "core/warning_screen.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/session_state.h"
#include "platform/window.h"

namespace vxt {
namespace {

constexpr int warning_text_box = 1021;

constexpr const char* warning_text =
    "WARNING: Forcing a firmware upgrade on your VXT\r\nwithout prior approval from your service "
    "provider or\r\nnetwork administrator may cause interruption to your\r\nservice.  If your VXT "
    "is managed by a service\r\nprovider who retains administrative control of the\r\ndevice, "
    "please contact the service provider for\r\nauthorization before proceeding.  In such cases, "
    "the\r\nmost current, approved for service firmware is\r\nautomatically provided by your "
    "service provider without\r\nany onus on the end user to upgrade manually.";

int warning_screen_proc(Window* window, const Event& event) {
  if (event.kind == Event::open) {
    char caption[64];
    std::snprintf(caption, sizeof caption, "%s Firmware Upgrade", session.model_name);
    set_caption(window, caption);
    set_control_text(window, warning_text_box, warning_text);
    set_focus(window, command_cancel);
    center_window(window);
    return 1;
  }
  if (event.kind == Event::command && (event.id == command_ok || event.id == command_cancel)) {
    end_modal(window, event.id == command_ok ? 1 : 0);
    return 1;
  }
  return event.kind == Event::close ? 0 : 1;  // close becomes Cancel
}

}  // namespace

int run_warning_screen() { return run_modal(warning_dialog, warning_screen_proc); }

}  // namespace vxt
