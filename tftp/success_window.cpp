#include "tftp/success_window.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/session_state.h"

namespace vxt {

int success_window_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open: {
      char caption[64];
      std::snprintf(caption, sizeof caption, "VXT@%s Upgrade Successful!", session.device_label);
      set_caption(window, caption);
      set_control_text(window, success_text_area,
                       "Your VXT has been successfully\r\nupgraded to the version shown\r\nbelow.");
      // As the check has just read it from the device, not the embedded image's version.
      set_control_text(window, success_version_field, session.device_info.software_version);
      center_window(window);
      return 1;
    }
    case Event::command:
      if (event.id == command_ok) end_modal(window, 1);
      if (event.id == command_cancel) end_modal(window, 0);
      return 1;
    default:
      return 0;
  }
}

}  // namespace vxt
