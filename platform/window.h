// The window model the wizard is written against: Win32-like windows made from dialog
// templates, each with a procedure and its own event queue, owned by the thread that made it.
//
// Front ends (one file each, chosen by the build) only show this model and turn a person's
// gestures into events; see frontend.h. Everything here is safe to call from any thread
// unless stated otherwise; a window's procedure always runs on its owner thread.
#pragma once

#include <cstdint>

namespace vxt {

struct Window;  // opaque; a record that stays valid for the whole process

struct Event {
  enum Kind { open, command, close, timer };
  Kind kind;
  int id;  // the command number for command events, else 0
};

// Command numbers every dialog shares.
constexpr int command_ok = 1;
constexpr int command_cancel = 2;

// A window procedure. Returns non-zero when it handled the event, 0 for the default
// treatment (a close event becomes command(2); everything else is dropped).
using WindowProc = int (*)(Window*, const Event&);

// Makes the window from its template, delivers `open` to the procedure, shows it and delivers
// its events on the calling thread until the procedure calls end_modal; destroys the window
// and returns the result. Only this window's events are delivered meanwhile: the thread's
// other windows (a modeless one it polls, say) keep theirs waiting until it polls them again.
int run_modal(int dialog_id, WindowProc proc);

// Ends a modal run with its result; the run loop returns after the current event. Does
// nothing for a modeless window, or a modal run that has already ended.
void end_modal(Window* window, int result);

// Makes a hidden window owned by the calling thread and delivers `open` to the procedure.
Window* create_modeless(int dialog_id, WindowProc proc);
void show_window(Window* window);
// Destroys the window; later events, commands and timers for it are ignored. Idempotent.
void destroy_window(Window* window);

// Owner thread only: takes at most one pending event of the window and delivers it (a
// person's typing or picking that waits in the queue takes effect instead, without the
// procedure). Never blocks; returns whether an event was taken.
bool poll_event(Window* window);

// From any thread but the owner: queues command(id) and waits until the procedure has handled
// it. Returns at once (false) when the window is gone or goes before handling it.
bool send_command(Window* window, int command_id);

// A periodic timer posting `timer` events into the window's queue (pending ticks coalesce
// into one). Start and stop from any thread; restarting replaces the period.
void start_timer(Window* window, int period_ms);
void stop_timer(Window* window);

// Message windows with a title, a text and one OK button; they block the calling thread
// until dismissed and deliver nothing meanwhile: the thread's windows keep their events
// waiting until it handles events again. An owned one also keeps the person's input from its
// owner; a task-modal one from every window of the calling thread; one owned by none from no
// window at all. A dismissal sets the windows free at once, before the caller returns.
void message_box(Window* owner, const char* title, const char* text);
void task_modal_message_box(const char* title, const char* text);

// Control state. Unknown controls are ignored (reads give empty results).
void set_caption(Window* window, const char* text);
void set_control_text(Window* window, int control_id, const char* text);
// Copies at most max_count - 1 bytes and a terminating zero; returns the bytes copied.
int get_control_text(Window* window, int control_id, char* buffer, int max_count);
void set_focus(Window* window, int control_id);
int focused_control(Window* window);  // the control id, or 0 when none
// Range 0..max; max is taken as an unsigned 16-bit number. Positions outside it are kept.
void set_progress_range(Window* window, int control_id, int max);
void set_progress_position(Window* window, int control_id, int position);
void list_append(Window* window, int control_id, const char* text);
void list_select(Window* window, int control_id, int index);
int list_selection(Window* window, int control_id);  // -1 when nothing is selected

struct Rect {
  int left, top, right, bottom;
};
struct Size {
  int width, height;
};
// The window's rectangle on the screen in pixels; false when the window is gone.
bool window_rect(Window* window, Rect* rect);
Size screen_size();
// Moves without resizing and raises the window.
void move_window(Window* window, int x, int y);

// Events waiting in the window's queue (diagnostics and tests).
int pending_event_count(Window* window);

int window_number(Window* window);  // as the front end names it
int window_dialog(Window* window);  // its template number

}  // namespace vxt
