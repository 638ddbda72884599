// The contract between the window model and a front end.
//
// Each front end is one file (frontend_automation.cpp, frontend_qt.cpp, ...) that defines the
// functions in namespace vxt::frontend; each executable links exactly one. The model calls the
// notifications while it holds its lock, in the order the changes happen: they must not block
// and must not call back into the model (queue the work to the front end's own thread instead).
// The front end calls the gesture functions in namespace vxt::gesture from any thread.
#pragma once

#include <string>
#include <vector>

#include "resources/dialog_template.h"

namespace vxt {

struct ControlState {
  int id = 0;
  ControlKind kind = ControlKind::static_text;
  unsigned style = 0;
  int icon_id = 0;
  int x = 0, y = 0, width = 0, height = 0;           // dialog units
  std::string text;                                  // bytes in the single-byte character set
  int range_min = 0, range_max = 100, position = 0;  // progress bars
  std::vector<std::string> items;                    // drop-down lists
  int selected = -1;
};

struct WindowSnapshot {
  int number = 0;
  int dialog = 0;
  std::string caption;
  bool modal = false;
  int x = 0, y = 0, width = 0, height = 0;  // pixels
  int width_units = 0, height_units = 0;    // dialog units
  int focus = 0;                            // control id, 0 when none
  std::vector<ControlState> controls;       // tab order
  bool blocked = false;                     // a message window keeps the person's input out
};

struct MessageSnapshot {
  int number = 0;  // numbered like windows
  int owner = 0;   // window number, 0 when none
  std::string title;
  std::string text;
  bool task_modal = false;
};

enum class ControlChange { text, progress, list };

namespace frontend {

// Runs the front end on the process's first thread. It calls start_wizard (at most once) when
// the wizard may begin; the wizard then runs on a second thread. Returns the exit status.
int run(int argc, char** argv, void (*start_wizard)());

// Dialog base units (pixels per 4 horizontal and 8 vertical dialog units) and screen size.
struct Metrics {
  int base_x = 6, base_y = 13;
  int screen_width = 1024, screen_height = 768;
};
Metrics metrics();

void window_shown(const WindowSnapshot& window);
void caption_changed(int window, const std::string& caption);
void control_changed(int window, const ControlState& control, ControlChange change);
void focus_changed(int window, int control);
void window_moved(int window, int x, int y);
// had_result: a modal window that ended with `result`.
void window_destroyed(int window, bool had_result, int result);
void message_opened(const MessageSnapshot& message);
void message_closed(int message);
// A message window opened or went, and the window's input is now kept out or let in again:
// an owned message blocks its owner, a task-modal one every window of the calling thread,
// one owned by none nothing.
void input_blocked(int window, bool blocked);
// A gesture that was taken but never took effect: its window ended first.
void gesture_refused(const std::string& text);
// Last words before the process ends with `status`: flush whatever must reach the person.
void process_ending(int status);

}  // namespace frontend

// A person's gestures. Each returns false and sets *error when it names no open window or
// control, or the window takes no input at the moment (a message window blocks it).
// Otherwise it waits in the window's queue behind the gestures made before it, typing and
// picking included, and takes effect when the owner thread gets to it; if the window ends
// first, gesture_refused says so. A dismissal takes effect at once.
namespace gesture {
bool press(int window, int control, std::string* error);
bool type_text(int window, int control, const std::string& text, std::string* error);
bool select(int window, int control, int index, std::string* error);
bool key_enter(int window, std::string* error);   // the default button
bool key_escape(int window, std::string* error);  // command(2)
bool close(int window, std::string* error);       // the title-bar close box
bool dismiss(int message, std::string* error);    // OK on a message window
// The newest open window made from that template, or 0.
int newest_window_of_dialog(int dialog);
}  // namespace gesture

}  // namespace vxt
