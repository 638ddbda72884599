// The eleven screens of the wizard as data. Texts that a screen fills in when it opens
// (captions of data-carrying screens, welcome, warning, prompts, device fields) stay empty here.
#include <iterator>

#include "resources/dialog_template.h"

namespace vxt {
namespace {

using K = ControlKind;
constexpr int none = no_control_id;

// Read-only text areas the screens fill in themselves.
constexpr unsigned text_area = style_multi_line | style_read_only;
constexpr unsigned text_line = style_read_only;

// 101: address screen for telephone adapters.
constexpr ControlTemplate address_adapter_controls[] = {
    {1, K::push_button, "OK", 26, 126, 50, 14, style_default, 0},
    {2, K::push_button, "Cancel", 79, 126, 50, 14, 0, 0},
    {1007, K::edit, "", 13, 6, 139, 16, text_area, 0},
    {1008, K::edit, "", 13, 42, 139, 56, text_area, 0},
    {1015, K::edit, "", 37, 28, 89, 14, text_line, 0},
    {1017, K::drop_down_list, "", 63, 153, 79, 80, style_vscroll, 0},
    {none, K::static_text, "Your IP Address", 9, 156, 52, 8, 0, 0},
    {none, K::icon, "", 119, 18, 20, 20, 0, 106},
    {1000, K::ipv4_field, "", 26, 103, 103, 15, 0, 0},
};

// 103: confirm screen.
constexpr ControlTemplate confirm_controls[] = {
    {1, K::push_button, "Upgrade", 29, 146, 50, 14, style_default, 0},
    {2, K::push_button, "Cancel", 83, 146, 50, 14, 0, 0},
    {1002, K::edit, "", 78, 47, 67, 14, text_line | style_border, 0},
    {1003, K::edit, "", 78, 64, 67, 14, text_line | style_border, 0},
    {1004, K::edit, "", 78, 81, 67, 14, text_line | style_border, 0},
    {1005, K::edit, "", 78, 98, 67, 14, text_line | style_border, 0},
    {1006, K::edit, "", 78, 115, 67, 14, text_line | style_border, 0},
    {none, K::static_text, "Serial Number", 0, 50, 72, 8, style_align_right, 0},
    {none, K::static_text, "MAC Address", 0, 67, 72, 8, style_align_right, 0},
    {none, K::static_text, "Software Version", 0, 84, 72, 8, style_align_right, 0},
    {none, K::static_text, "Hardware Version", 0, 101, 72, 8, style_align_right, 0},
    {none, K::static_text, "Product Name", 0, 118, 72, 8, style_align_right, 0},
    {1007, K::edit, "", 12, 6, 142, 35, text_area, 0},
};

// 104: password window.
constexpr ControlTemplate password_controls[] = {
    {1, K::push_button, "OK", 32, 210, 50, 14, style_default, 0},
    {2, K::push_button, "Cancel", 104, 210, 50, 14, 0, 0},
    {1003, K::edit, "", 68, 168, 85, 14, style_border | style_auto_hscroll, 0},
    {1005, K::edit, "", 68, 186, 85, 14, style_border | style_auto_hscroll | style_masked, 0},
    {none, K::static_text, "User", 18, 170, 44, 8, style_align_right, 0},
    {none, K::static_text, "Password", 18, 191, 44, 8, style_align_right, 0},
    {1007, K::edit, "", 15, 9, 165, 152, text_area, 0},
};

// 105: connecting window.
constexpr ControlTemplate connecting_controls[] = {
    {1010, K::progress_bar, "", 22, 10, 141, 14, style_border, 0},
    {2, K::push_button, "Cancel", 65, 34, 50, 14, 0, 0},
};

// 110: uploading window.
constexpr ControlTemplate uploading_controls[] = {
    {2, K::push_button, "Cancel", 95, 52, 50, 14, 0, 0},
    {1010, K::progress_bar, "", 17, 35, 206, 8, style_border, 0},
    {none, K::static_text,
     "Please do not unplug the power of your VXT until the Status Light stops blinking", 53, 12,
     137, 22, style_align_center, 0},
};

// 111: success window.
constexpr ControlTemplate success_controls[] = {
    {1, K::push_button, "OK", 61, 94, 50, 14, style_default, 0},
    {1004, K::edit, "", 37, 69, 96, 14, text_line | style_align_center | style_border, 0},
    {1007, K::edit, "", 31, 9, 111, 33, text_area, 0},
    {none, K::static_text, "www.example.com", 78, 47, 53, 8, 0, 0},
};

// 114: waiting window.
constexpr ControlTemplate waiting_controls[] = {
    {2, K::push_button, "Cancel", 119, 114, 50, 14, 0, 0},
    {1010, K::progress_bar, "", 59, 91, 170, 14, style_border, 0},
    {1032, K::static_text, "", 14, 9, 266, 74, 0, 0},
};

// 139: warning screen. Cancel is the default button on purpose.
constexpr ControlTemplate warning_controls[] = {
    {1, K::push_button, "Continue", 41, 116, 50, 14, 0, 0},
    {2, K::push_button, "Cancel", 109, 116, 50, 14, style_default, 0},
    {1021, K::edit, "", 12, 13, 189, 95, text_area | style_no_tab_stop, 0},
};

// 141: welcome screen.
constexpr ControlTemplate welcome_controls[] = {
    {1029, K::push_button, "Recover Firmware", 47, 126, 93, 14, 0, 0},
    {1028, K::push_button, "Upgrade Firmware ", 47, 105, 93, 14, style_default, 0},
    {1031, K::edit, "", 17, 10, 157, 84, text_area, 0},
};

// 142: recovery entry screen.
constexpr ControlTemplate recovery_entry_controls[] = {
    {1031, K::edit, "", 14, 12, 158, 19, text_area, 0},
    {1032, K::edit, "", 14, 33, 145, 12, text_area, 0},
    {1030, K::edit, "", 14, 47, 159, 81, text_area, 0},
    {none, K::static_text, "Enter the serial number of your VXT:", 16, 137, 117, 11, 0, 0},
    {1027, K::edit, "", 41, 151, 105, 14, style_border | style_auto_hscroll | style_upper_case, 0},
    {none, K::static_text, "Your IP Address", 22, 177, 52, 8, 0, 0},
    {1017, K::drop_down_list, "", 76, 174, 79, 80, style_vscroll, 0},
    {1, K::push_button, "Continue", 32, 193, 50, 14, style_default, 0},
    {2, K::push_button, "Cancel", 104, 193, 50, 14, 0, 0},
};

// 168: address screen for the IP phone; same controls as 101, arranged differently.
constexpr ControlTemplate address_phone_controls[] = {
    {1, K::push_button, "OK", 34, 132, 50, 14, style_default, 0},
    {2, K::push_button, "Cancel", 87, 132, 50, 14, 0, 0},
    {1007, K::edit, "", 15, 8, 139, 16, text_area, 0},
    {1008, K::edit, "", 15, 44, 144, 59, text_area, 0},
    {1015, K::edit, "", 39, 30, 89, 14, text_line, 0},
    {1017, K::drop_down_list, "", 71, 159, 79, 80, style_vscroll, 0},
    {none, K::static_text, "Your IP Address", 17, 162, 52, 8, 0, 0},
    {none, K::icon, "", 121, 20, 21, 20, 0, 106},
    {1000, K::ipv4_field, "", 34, 108, 103, 15, 0, 0},
};

template <std::size_t N>
constexpr DialogTemplate make_dialog(int id, const char* caption, int width, int height,
                                     bool modal_frame, const ControlTemplate (&controls)[N]) {
  return DialogTemplate{id, caption, width, height, modal_frame, controls, N};
}

constexpr DialogTemplate address_adapter =
    make_dialog(101, "VXT Firmware Upgrade", 158, 181, true, address_adapter_controls);
constexpr DialogTemplate confirm =
    make_dialog(103, "Confirm Upgrade", 172, 170, true, confirm_controls);
constexpr DialogTemplate password =
    make_dialog(104, "Enter Password Information", 191, 236, false, password_controls);
constexpr DialogTemplate connecting =
    make_dialog(105, "Connecting with VXT", 186, 55, false, connecting_controls);
constexpr DialogTemplate uploading =
    make_dialog(110, "Uploading Firmware To VXT", 244, 77, true, uploading_controls);
constexpr DialogTemplate success =
    make_dialog(111, "Upgrade Successful", 174, 119, true, success_controls);
constexpr DialogTemplate waiting = make_dialog(
    114, "Waiting For Firmware Download Request From VXT", 294, 135, true, waiting_controls);
constexpr DialogTemplate warning =
    make_dialog(139, "VXT-4400 Firmware Upgrade", 204, 143, true, warning_controls);
constexpr DialogTemplate welcome =
    make_dialog(141, "Tavero Firmware Upgrade Utility", 192, 149, true, welcome_controls);
constexpr DialogTemplate recovery_entry =
    make_dialog(142, "VXT Firmware Recovery", 186, 215, true, recovery_entry_controls);
constexpr DialogTemplate address_phone =
    make_dialog(168, "VXT Firmware Upgrade", 165, 178, true, address_phone_controls);

// Ascending dialog number.
constexpr const DialogTemplate* all_templates[] = {
    &address_adapter, &confirm, &password, &connecting,     &uploading,     &success,
    &waiting,         &warning, &welcome,  &recovery_entry, &address_phone,
};

}  // namespace

const DialogTemplate* find_dialog_template(int dialog_id) {
  for (const DialogTemplate* dialog_template : all_templates) {
    if (dialog_template->id == dialog_id) return dialog_template;
  }
  return nullptr;
}

const DialogTemplate* const* all_dialog_templates(std::size_t* count) {
  if (count != nullptr) *count = std::size(all_templates);
  return all_templates;
}

const ControlTemplate* find_control_template(const DialogTemplate& dialog, int control_id) {
  if (control_id == no_control_id) return nullptr;
  for (std::size_t i = 0; i < dialog.control_count; ++i) {
    if (dialog.controls[i].id == control_id) return &dialog.controls[i];
  }
  return nullptr;
}

}  // namespace vxt
