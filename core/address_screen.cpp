#include "core/address_screen.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/ipv4_text.h"
#include "core/local_address_chooser.h"
#include "core/random.h"
#include "core/session_state.h"
#include "platform/window.h"

namespace vxt {
namespace {

constexpr int address_field = 1000;
constexpr int introduction_box = 1007;
constexpr int prompt_box = 1008;
constexpr int version_line = 1015;

constexpr const char* introduction = "This program will upgrade your VXT\r\nfirmware to:";

constexpr const char* phone_prompt =
    "To proceed, please provide the IP address\r\nof your VXT. To find out the IP address of\r\n"
    "your VXT, press the I button on the phone,\r\nselect \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n\r\nPlease enter IP address of your VXT:";

constexpr const char* adapter_prompt =
    "To proceed, please provide the IP address\r\nof your VXT. To find out the IP address\r\n"
    "of your VXT, using a telephone handset,\r\nenter # # # #, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n\r\nPlease enter IP address of your VXT:";

void open_address_screen(Window* window) {
  fill_local_address_chooser(window);
  set_caption(window, "VXT Firmware Upgrade");
  set_control_text(window, introduction_box, introduction);
  set_control_text(window, prompt_box, session.device_kind == 1 ? phone_prompt : adapter_prompt);
  char version[64];
  std::snprintf(version, sizeof version, "Version %s", session.image.version_text);
  set_control_text(window, version_line, version);
  set_focus(window, address_field);
  center_window(window);
}

void accept_address(Window* window) {
  // At most 30 characters of the field are read; device_label keeps a rejected text too.
  constexpr int address_text_limit = 30;
  get_control_text(window, address_field, session.device_label, address_text_limit + 1);
  parse_ipv4_text(session.device_label, &session.device_address);
  if (session.device_address != 0) {
    draw_tftp_file_name();
    session.local_address = chosen_local_address(window);
    end_modal(window, 1);
    return;
  }
  message_box(window, "Error", "Invalid IP Address");
  set_focus(window, address_field);
}

int address_screen_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      open_address_screen(window);
      return 1;
    case Event::command:
      if (event.id == command_ok) accept_address(window);
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

int run_address_screen() {
  return run_modal(session.device_kind == 1 ? address_dialog_phone : address_dialog_adapter,
                   address_screen_proc);
}

}  // namespace vxt
