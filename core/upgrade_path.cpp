#include "core/upgrade_path.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/session_state.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "tftp/tftp_listener.h"
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

int format_upgrade_command(char* path, int capacity, std::uint32_t local_address,
                           std::uint16_t port, const char* file_name) {
  const int n = std::snprintf(path, static_cast<std::size_t>(capacity),
                              "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s", local_address >> 24,
                              (local_address >> 16) & 0xFF, (local_address >> 8) & 0xFF,
                              local_address & 0xFF, static_cast<unsigned>(port), file_name);
  return n < capacity ? n : capacity - 1;
}

void start_upgrade_transfer() {
  // The listener is bound before the command goes out, so the device never asks too early.
  const std::uint16_t port = start_tftp_listener(session.local_address, nullptr);
  char path[128];
  format_upgrade_command(path, sizeof path, session.local_address, port, session.tftp_file_name);
  // Whatever the device answers, the listener waits for its read request.
  run_web_request(session.local_address, local_port_base, session.device_address, device_port, path,
                  session.http_buffer, http_capacity);
  sleep_ms(10);
  for (;;) sleep_ms(10);
}

}  // namespace vxt
