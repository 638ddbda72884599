#include "core/upgrade_path.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/session_state.h"
#include "platform/window.h"
#include "web/request_runner.h"

namespace vxt {
namespace {

constexpr int introduction_box = 1007;

constexpr const char* introduction =
    "The following information was extracted\r\nfrom your VXT. Please click \"Upgrade\"\r\nif you "
    "would like to proceed. If you would\r\nlike to quit click \"Cancel\".";

int confirm_screen_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open: {
      char caption[80];
      std::snprintf(caption, sizeof caption, "Confirm Upgrade to Ver. %s",
                    session.image.version_text);
      set_caption(window, caption);
      set_control_text(window, introduction_box, introduction);
      const DeviceInfo& info = session.device_info;
      set_control_text(window, 1002, info.serial_number);
      set_control_text(window, 1003, info.mac_address);
      set_control_text(window, 1004, info.software_version);
      set_control_text(window, 1005, info.hardware_version);
      set_control_text(window, 1006, info.product_name);
      center_window(window);
      return 1;
    }
    case Event::command:
      if (event.id == command_ok) end_modal(window, 1);
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

int request_device_information() {
  return run_web_request(session.local_address, local_port_base, session.device_address,
                         device_port, information_page_path, session.http_buffer, http_capacity);
}

int run_confirm_screen() { return run_modal(confirm_dialog, confirm_screen_proc); }

}  // namespace vxt
