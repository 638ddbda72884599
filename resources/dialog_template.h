// Dialog templates: the fixed layout of every screen, as data.
//
// Positions and sizes are dialog units of the 8-point "MS Sans Serif" font; a front end
// turns them into pixels with its base units (x * base_x / 4, y * base_y / 8).
#pragma once

#include <cstddef>

namespace vxt {

enum class ControlKind {
  push_button,  // a button; the default one carries style_default
  static_text,  // a label (id -1 when nothing refers to it)
  edit,         // an edit box; read-only, multi-line, masked, upper-case via style bits
  progress_bar,
  drop_down_list,  // a list whose entries cannot be edited
  ipv4_field,      // an IPv4 address entry field; its text is read in dotted form
  icon,            // a picture showing the icon named by icon_id
};

// Style bits of a control. Only what a front end needs to show the control faithfully.
enum : unsigned {
  style_default = 1u << 0,  // the default push button (Enter presses it)
  style_read_only = 1u << 1,
  style_multi_line = 1u << 2,
  style_border = 1u << 3,
  style_masked = 1u << 4,      // password box
  style_upper_case = 1u << 5,  // typed letters become capitals
  style_align_right = 1u << 6,
  style_align_center = 1u << 7,
  style_no_tab_stop = 1u << 8,
  style_vscroll = 1u << 9,
  style_auto_hscroll = 1u << 10,
};

constexpr int no_control_id = -1;  // labels and pictures nothing refers to

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;  // initial text; "" when none
  int x, y, width, height;
  unsigned style;
  int icon_id;  // for ControlKind::icon, else 0
};

struct DialogTemplate {
  int id;
  const char* caption;  // the caption stored with the dialog (screens may replace it on opening)
  int width, height;    // dialog units
  bool modal_frame;     // popup with modal frame (every screen has caption and system menu)
  const ControlTemplate* controls;  // in tab order
  std::size_t control_count;
};

// The template with that dialog number, or nullptr.
const DialogTemplate* find_dialog_template(int dialog_id);

// Every template, in ascending dialog number.
const DialogTemplate* const* all_dialog_templates(std::size_t* count);

// The control with that id in the template, or nullptr (never matches no_control_id).
const ControlTemplate* find_control_template(const DialogTemplate& dialog, int control_id);

}  // namespace vxt
