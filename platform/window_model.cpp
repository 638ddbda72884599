// The window model: records, queues, modal runs, synchronous commands, timers, message windows.
//
// One lock guards the whole model. Procedures always run without it, on the owner thread, so
// a procedure may call back into the model freely. Front-end notifications run under it, so
// the front end sees changes in the order they happen.
//
// A person's gestures, typing and picking included, wait in the window's queue and take
// effect on the owner thread in the order they were made: a text typed after a click is never
// read by the procedure handling that click.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/frontend.h"
#include "platform/window.h"

namespace vxt {
namespace {

// Lets a thread that sent a command wait until it has been handled (or dropped).
struct CommandToken {
  bool done = false;
  bool handled = false;
};

// Typing or picking: applied to the control when its turn comes, without the procedure.
struct ControlInput {
  enum Kind { none, typing, picking };
  Kind kind = none;
  int control = 0;
  std::string text;
  int index = -1;
};

struct QueuedEvent {
  Event event;
  std::shared_ptr<CommandToken> token;  // set for send_command
  ControlInput input;
  std::string gesture;  // a person's gesture ("press 1", ...), refused aloud if the window goes
};

struct TimerState {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
};

}  // namespace

struct Window {
  WindowSnapshot view;  // everything a front end is shown
  WindowProc proc = nullptr;
  std::thread::id owner;
  bool shown = false;
  bool destroyed = false;
  bool ended = false;
  int result = 0;
  std::deque<QueuedEvent> queue;
  std::vector<std::shared_ptr<CommandToken>> in_delivery;
  bool timer_pending = false;
  std::shared_ptr<TimerState> timer;
  std::condition_variable wake;  // a modal run waits here for events
};

namespace {

struct MessageRecord {
  int number = 0;
  Window* owner = nullptr;
  bool task_modal = false;
  std::thread::id thread;
  bool dismissed = false;
};

struct Model {
  std::mutex mutex;
  std::condition_variable tokens;               // command tokens and message dismissals
  std::deque<std::unique_ptr<Window>> windows;  // never shrinks: records stay valid
  std::vector<MessageRecord*> messages;         // open message windows
  int next_number = 1;
};

// Never destroyed: detached timer threads and late senders may still touch it at exit.
Model& model() {
  static Model* instance = new Model;
  return *instance;
}

ControlState* find_control(Window* w, int control_id) {
  if (control_id == no_control_id) return nullptr;
  for (ControlState& c : w->view.controls)
    if (c.id == control_id) return &c;
  return nullptr;
}

bool visible(const Window* w) { return w->shown && !w->destroyed; }

void release_token(const std::shared_ptr<CommandToken>& token, bool handled) {
  if (!token || token->done) return;
  token->done = true;
  token->handled = handled;
}

// Lock held.
void destroy_locked(Model& m, Window* w, bool had_result) {
  if (w->destroyed) return;
  w->destroyed = true;
  std::deque<QueuedEvent> dropped;
  dropped.swap(w->queue);
  for (QueuedEvent& q : dropped) release_token(q.token, false);
  for (auto& token : w->in_delivery) release_token(token, true);
  w->in_delivery.clear();
  if (w->timer) {
    std::lock_guard<std::mutex> timer_lock(w->timer->mutex);
    w->timer->stopped = true;
    w->timer->wake.notify_all();
  }
  w->timer.reset();
  m.tokens.notify_all();
  w->wake.notify_all();
  if (w->shown) frontend::window_destroyed(w->view.number, had_result, w->result);
  for (const QueuedEvent& q : dropped) {
    if (q.gesture.empty()) continue;
    frontend::gesture_refused("window " + std::to_string(w->view.number) +
                              " ended before this gesture took effect: " + q.gesture);
  }
}

// Lock held. Whether a person's input may reach the window now.
bool blocked_by_message(const Model& m, const Window* w) {
  for (const MessageRecord* msg : m.messages)
    if (msg->owner == w || (msg->task_modal && msg->thread == w->owner)) return true;
  return false;
}

// Lock held. Tells the front end about every shown window whose input was just blocked or
// set free by a message window opening or going.
void update_blocking(Model& m) {
  for (auto& w : m.windows) {
    if (!visible(w.get())) continue;
    const bool blocked = blocked_by_message(m, w.get());
    if (blocked == w->view.blocked) continue;
    w->view.blocked = blocked;
    frontend::input_blocked(w->view.number, blocked);
  }
}

Window* make_window(int dialog_id, WindowProc proc, bool modal) {
  const DialogTemplate* t = find_dialog_template(dialog_id);
  if (t == nullptr) return nullptr;
  const frontend::Metrics metrics = frontend::metrics();
  auto w = std::make_unique<Window>();
  WindowSnapshot& v = w->view;
  v.dialog = dialog_id;
  v.modal = modal;
  v.caption = t->caption;
  v.width_units = t->width;
  v.height_units = t->height;
  v.width = t->width * metrics.base_x / 4;
  v.height = t->height * metrics.base_y / 8;
  for (std::size_t i = 0; i < t->control_count; ++i) {
    const ControlTemplate& ct = t->controls[i];
    ControlState c;
    c.id = ct.id;
    c.kind = ct.kind;
    c.style = ct.style;
    c.icon_id = ct.icon_id;
    c.x = ct.x;
    c.y = ct.y;
    c.width = ct.width;
    c.height = ct.height;
    c.text = ct.text;
    v.controls.push_back(std::move(c));
  }
  w->proc = proc;
  w->owner = std::this_thread::get_id();
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  w->view.number = m.next_number++;
  m.windows.push_back(std::move(w));
  return m.windows.back().get();
}

// Runs the procedure on one event, with the default treatment of an unhandled close.
void deliver(Window* w, const Event& event) {
  if (w->proc(w, event) == 0 && event.kind == Event::close) {
    w->proc(w, Event{Event::command, command_cancel});
  }
}

// Lock held. Typing or picking takes effect; the procedure learns of it when it reads.
void apply_input(Window* w, const ControlInput& input) {
  ControlState* c = find_control(w, input.control);
  if (c == nullptr) return;
  ControlChange change = ControlChange::text;
  if (input.kind == ControlInput::typing) {
    c->text = input.text;
  } else {
    c->selected = input.index;
    change = ControlChange::list;
  }
  if (visible(w)) frontend::control_changed(w->view.number, *c, change);
}

// Takes the next queued event (lock held by `lock`), delivers it unlocked, settles its token.
void deliver_front(Model& m, Window* w, std::unique_lock<std::mutex>& lock) {
  QueuedEvent q = std::move(w->queue.front());
  w->queue.pop_front();
  if (q.input.kind != ControlInput::none) {
    apply_input(w, q.input);
    return;
  }
  if (q.event.kind == Event::timer) w->timer_pending = false;
  if (q.token) w->in_delivery.push_back(q.token);
  lock.unlock();
  deliver(w, q.event);
  lock.lock();
  if (q.token) {
    auto& v = w->in_delivery;
    v.erase(std::remove(v.begin(), v.end(), q.token), v.end());
    release_token(q.token, true);
    m.tokens.notify_all();
  }
}

// Lock held.
bool post_locked(Window* w, QueuedEvent q) {
  if (w->destroyed) return false;
  w->queue.push_back(std::move(q));
  w->wake.notify_all();
  return true;
}

bool post_locked(Window* w, const Event& event) {
  return post_locked(w, QueuedEvent{event, {}, {}, {}});
}

void show_locked(Model& m, Window* w) {
  if (w->shown || w->destroyed) return;
  w->shown = true;
  w->view.blocked = blocked_by_message(m, w);
  frontend::window_shown(w->view);
}

// The lock, the control and the notification that every control setter shares. `change`
// alters the control and says whether anything changed.
template <class Change>
void change_control(Window* window, int control_id, ControlChange what, Change change) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr || !change(*c)) return;
  if (visible(window)) frontend::control_changed(window->view.number, *c, what);
}

}  // namespace

int run_modal(int dialog_id, WindowProc proc) {
  Window* w = make_window(dialog_id, proc, true);
  if (w == nullptr) return -1;
  deliver(w, Event{Event::open, 0});
  Model& m = model();
  std::unique_lock<std::mutex> lock(m.mutex);
  if (!w->ended) show_locked(m, w);
  while (!w->ended && !w->destroyed) {
    w->wake.wait(lock, [w] { return w->ended || w->destroyed || !w->queue.empty(); });
    if (w->ended || w->destroyed) break;
    deliver_front(m, w, lock);
  }
  destroy_locked(m, w, true);
  return w->result;
}

void end_modal(Window* window, int result) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (!window->view.modal || window->ended || window->destroyed) return;
  window->ended = true;
  window->result = result;
  window->wake.notify_all();
}

Window* create_modeless(int dialog_id, WindowProc proc) {
  Window* w = make_window(dialog_id, proc, false);
  if (w != nullptr) deliver(w, Event{Event::open, 0});
  return w;
}

void show_window(Window* window) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  show_locked(m, window);
}

void destroy_window(Window* window) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  destroy_locked(m, window, false);
}

bool poll_event(Window* window) {
  Model& m = model();
  std::unique_lock<std::mutex> lock(m.mutex);
  if (window->destroyed || window->queue.empty()) return false;
  deliver_front(m, window, lock);
  return true;
}

bool send_command(Window* window, int command_id) {
  const Event event{Event::command, command_id};
  if (window->owner == std::this_thread::get_id()) {
    // Like a direct call: waiting for ourselves would never end.
    {
      std::lock_guard<std::mutex> lock(model().mutex);
      if (window->destroyed) return false;
    }
    deliver(window, event);
    return true;
  }
  Model& m = model();
  std::unique_lock<std::mutex> lock(m.mutex);
  auto token = std::make_shared<CommandToken>();
  if (!post_locked(window, QueuedEvent{event, token, {}, {}})) return false;
  m.tokens.wait(lock, [&token] { return token->done; });
  return token->handled;
}

void start_timer(Window* window, int period_ms) {
  stop_timer(window);
  auto state = std::make_shared<TimerState>();
  {
    std::lock_guard<std::mutex> lock(model().mutex);
    if (window->destroyed) return;
    window->timer = state;
  }
  const auto period = std::chrono::milliseconds(std::max(1, period_ms));
  std::thread([window, state, period] {
    for (;;) {
      {
        // Released before the model lock is taken: destroy takes them the other way round.
        std::unique_lock<std::mutex> timer_lock(state->mutex);
        if (state->wake.wait_for(timer_lock, period, [&state] { return state->stopped; })) return;
      }
      Model& m = model();
      std::lock_guard<std::mutex> lock(m.mutex);
      if (window->destroyed || window->timer != state) return;
      if (!window->timer_pending) {
        window->timer_pending = true;
        post_locked(window, Event{Event::timer, 0});
      }
    }
  }).detach();
}

void stop_timer(Window* window) {
  std::shared_ptr<TimerState> state;
  {
    std::lock_guard<std::mutex> lock(model().mutex);
    state = std::move(window->timer);
    window->timer.reset();
    // A tick already queued may still be delivered, as with any posted message.
  }
  if (!state) return;
  std::lock_guard<std::mutex> timer_lock(state->mutex);
  state->stopped = true;
  state->wake.notify_all();
}

namespace {

void show_message(Window* owner, const char* title, const char* text, bool task_modal) {
  Model& m = model();
  std::unique_lock<std::mutex> lock(m.mutex);
  MessageRecord record;
  record.number = m.next_number++;
  record.owner = (owner != nullptr && !owner->destroyed) ? owner : nullptr;
  record.task_modal = task_modal;
  record.thread = std::this_thread::get_id();
  m.messages.push_back(&record);
  MessageSnapshot snapshot;
  snapshot.number = record.number;
  snapshot.owner = record.owner != nullptr ? record.owner->view.number : 0;
  snapshot.title = title;
  snapshot.text = text;
  snapshot.task_modal = task_modal;
  // Blocked before the message shows, free again before it goes: a person who sees it come
  // or go finds the windows as they are.
  update_blocking(m);
  frontend::message_opened(snapshot);
  // The dismissal takes the record out of the list at once (gesture::dismiss).
  m.tokens.wait(lock, [&record] { return record.dismissed; });
}

}  // namespace

void message_box(Window* owner, const char* title, const char* text) {
  show_message(owner, title, text, false);
}

void task_modal_message_box(const char* title, const char* text) {
  show_message(nullptr, title, text, true);
}

void set_caption(Window* window, const char* text) {
  std::lock_guard<std::mutex> lock(model().mutex);
  window->view.caption = text;
  if (visible(window)) frontend::caption_changed(window->view.number, window->view.caption);
}

void set_control_text(Window* window, int control_id, const char* text) {
  change_control(window, control_id, ControlChange::text, [text](ControlState& c) {
    c.text = text;
    return true;
  });
}

int get_control_text(Window* window, int control_id, char* buffer, int max_count) {
  if (buffer == nullptr || max_count <= 0) return 0;
  std::lock_guard<std::mutex> lock(model().mutex);
  const ControlState* c = find_control(window, control_id);
  const std::string empty;
  const std::string& text = c != nullptr ? c->text : empty;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(max_count - 1));
  std::copy_n(text.data(), n, buffer);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

void set_focus(Window* window, int control_id) {
  std::lock_guard<std::mutex> lock(model().mutex);
  if (find_control(window, control_id) == nullptr) return;
  window->view.focus = control_id;
  if (visible(window)) frontend::focus_changed(window->view.number, control_id);
}

int focused_control(Window* window) {
  std::lock_guard<std::mutex> lock(model().mutex);
  return window->view.focus;
}

void set_progress_range(Window* window, int control_id, int max) {
  change_control(window, control_id, ControlChange::progress, [max](ControlState& c) {
    c.range_min = 0;
    c.range_max = max & 0xffff;
    return true;
  });
}

void set_progress_position(Window* window, int control_id, int position) {
  change_control(window, control_id, ControlChange::progress, [position](ControlState& c) {
    if (c.position == position) return false;
    c.position = position;
    return true;
  });
}

void list_append(Window* window, int control_id, const char* text) {
  change_control(window, control_id, ControlChange::list, [text](ControlState& c) {
    c.items.emplace_back(text);
    return true;
  });
}

void list_select(Window* window, int control_id, int index) {
  change_control(window, control_id, ControlChange::list, [index](ControlState& c) {
    c.selected = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
    return true;
  });
}

int list_selection(Window* window, int control_id) {
  std::lock_guard<std::mutex> lock(model().mutex);
  const ControlState* c = find_control(window, control_id);
  return c != nullptr ? c->selected : -1;
}

bool window_rect(Window* window, Rect* rect) {
  std::lock_guard<std::mutex> lock(model().mutex);
  if (window->destroyed) return false;
  const WindowSnapshot& v = window->view;
  *rect = Rect{v.x, v.y, v.x + v.width, v.y + v.height};
  return true;
}

Size screen_size() {
  const frontend::Metrics metrics = frontend::metrics();
  return Size{metrics.screen_width, metrics.screen_height};
}

void move_window(Window* window, int x, int y) {
  std::lock_guard<std::mutex> lock(model().mutex);
  if (window->destroyed) return;
  window->view.x = x;
  window->view.y = y;
  if (window->shown) frontend::window_moved(window->view.number, x, y);
}

int pending_event_count(Window* window) {
  std::lock_guard<std::mutex> lock(model().mutex);
  return static_cast<int>(window->queue.size());
}

int window_number(Window* window) { return window->view.number; }
int window_dialog(Window* window) { return window->view.dialog; }

// ---- a person's gestures, from the front end's thread ----

namespace gesture {
namespace {

// Lock held. An open, shown window that takes input now, or nullptr with *error set.
Window* input_window(Model& m, int number, std::string* error) {
  for (auto& w : m.windows) {
    if (w->view.number != number) continue;
    if (!visible(w.get())) break;
    if (blocked_by_message(m, w.get())) {
      if (error) *error = "window " + std::to_string(number) + " is blocked by a message window";
      return nullptr;
    }
    return w.get();
  }
  if (error) *error = "no open window " + std::to_string(number);
  return nullptr;
}

// Lock held. A control of that window, or nullptr with *error set.
ControlState* input_control(Window* w, int control_id, std::string* error) {
  ControlState* c = find_control(w, control_id);
  if (c == nullptr && error)
    *error = "window " + std::to_string(w->view.number) + " has no control " +
             std::to_string(control_id);
  return c;
}

// The prologue of every gesture: the lock, the window that takes input (and, for a gesture
// on a control, the control). `make` checks the gesture and fills in what waits in the
// window's queue; false with *error set refuses it.
template <class Make>
bool queue_gesture(int window, const int* control, std::string* error, Make make) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  if (w == nullptr) return false;
  ControlState* c = nullptr;
  if (control != nullptr && (c = input_control(w, *control, error)) == nullptr) return false;
  QueuedEvent q{};
  if (!make(w, c, &q)) return false;
  return post_locked(w, std::move(q));
}

bool refuse(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

bool press(int window, int control, std::string* error) {
  return queue_gesture(window, &control, error, [&](Window*, ControlState* c, QueuedEvent* q) {
    if (c->kind != ControlKind::push_button)
      return refuse(error, "control " + std::to_string(control) + " is not a button");
    q->event = Event{Event::command, control};
    q->gesture = "press " + std::to_string(control);
    return true;
  });
}

bool type_text(int window, int control, const std::string& text, std::string* error) {
  return queue_gesture(window, &control, error, [&](Window*, ControlState* c, QueuedEvent* q) {
    const bool editable = (c->kind == ControlKind::edit && (c->style & style_read_only) == 0) ||
                          c->kind == ControlKind::ipv4_field;
    if (!editable) return refuse(error, "control " + std::to_string(control) + " takes no typing");
    // An edit box holds no NUL; what follows one never reaches it.
    std::string typed = text.substr(0, text.find('\0'));
    if (c->style & style_upper_case) {
      for (char& ch : typed)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    q->input = ControlInput{ControlInput::typing, control, std::move(typed), -1};
    q->gesture = "type into " + std::to_string(control);
    return true;
  });
}

bool select(int window, int control, int index, std::string* error) {
  return queue_gesture(window, &control, error, [&](Window*, ControlState* c, QueuedEvent* q) {
    // Entries are only ever appended, so one that exists now still does when its turn comes.
    if (c->kind != ControlKind::drop_down_list || index < 0 ||
        index >= static_cast<int>(c->items.size()))
      return refuse(
          error, "control " + std::to_string(control) + " has no entry " + std::to_string(index));
    q->input = ControlInput{ControlInput::picking, control, {}, index};
    q->gesture = "select " + std::to_string(index) + " in " + std::to_string(control);
    return true;
  });
}

bool key_enter(int window, std::string* error) {
  return queue_gesture(window, nullptr, error, [](Window* w, ControlState*, QueuedEvent* q) {
    int id = command_ok;
    for (const ControlState& c : w->view.controls)
      if (c.kind == ControlKind::push_button && (c.style & style_default)) id = c.id;
    q->event = Event{Event::command, id};
    q->gesture = "key enter";
    return true;
  });
}

bool key_escape(int window, std::string* error) {
  return queue_gesture(window, nullptr, error, [](Window*, ControlState*, QueuedEvent* q) {
    q->event = Event{Event::command, command_cancel};
    q->gesture = "key escape";
    return true;
  });
}

bool close(int window, std::string* error) {
  return queue_gesture(window, nullptr, error, [](Window*, ControlState*, QueuedEvent* q) {
    q->event = Event{Event::close, 0};
    q->gesture = "close";
    return true;
  });
}

bool dismiss(int message, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (auto it = m.messages.begin(); it != m.messages.end(); ++it) {
    MessageRecord* msg = *it;
    if (msg->number != message) continue;
    // Gone from the list before the caller even wakes: the next gesture finds nothing
    // blocked by it.
    msg->dismissed = true;
    m.messages.erase(it);
    update_blocking(m);
    frontend::message_closed(message);
    m.tokens.notify_all();
    return true;
  }
  if (error) *error = "no open message window " + std::to_string(message);
  return false;
}

int newest_window_of_dialog(int dialog) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (auto it = m.windows.rbegin(); it != m.windows.rend(); ++it)
    if ((*it)->view.dialog == dialog && visible(it->get())) return (*it)->view.number;
  return 0;
}

}  // namespace gesture
}  // namespace vxt
