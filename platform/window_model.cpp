// The window model: records, queues, modal runs, synchronous commands, timers, message windows.
//
// One lock guards the whole model. Procedures always run without it, on the owner thread, so
// a procedure may call back into the model freely. Front-end notifications run under it, so
// the front end sees changes in the order they happen.
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

struct QueuedEvent {
  Event event;
  std::shared_ptr<CommandToken> token;  // set for send_command
};

struct TimerState {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
};

}  // namespace

struct Window {
  int number = 0;
  int dialog = 0;
  WindowProc proc = nullptr;
  std::thread::id owner;
  bool modal = false;
  bool shown = false;
  bool destroyed = false;
  bool ended = false;
  int result = 0;
  std::string caption;
  std::vector<ControlState> controls;
  int focus = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int width_units = 0, height_units = 0;
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
  for (ControlState& c : w->controls)
    if (c.id == control_id) return &c;
  return nullptr;
}

WindowSnapshot snapshot_of(const Window* w) {
  WindowSnapshot s;
  s.number = w->number;
  s.dialog = w->dialog;
  s.caption = w->caption;
  s.modal = w->modal;
  s.x = w->x;
  s.y = w->y;
  s.width = w->width;
  s.height = w->height;
  s.width_units = w->width_units;
  s.height_units = w->height_units;
  s.focus = w->focus;
  s.controls = w->controls;
  return s;
}

void release_token(const std::shared_ptr<CommandToken>& token, bool handled) {
  if (!token || token->done) return;
  token->done = true;
  token->handled = handled;
}

// Lock held.
void destroy_locked(Model& m, Window* w, bool had_result) {
  if (w->destroyed) return;
  w->destroyed = true;
  for (QueuedEvent& q : w->queue) release_token(q.token, false);
  w->queue.clear();
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
  if (w->shown) frontend::window_destroyed(w->number, had_result, w->result);
}

// Lock held. Whether a person's input may reach the window now.
bool blocked_by_message(const Model& m, const Window* w) {
  for (const MessageRecord* msg : m.messages)
    if (msg->owner == w || (msg->task_modal && msg->thread == w->owner)) return true;
  return false;
}

Window* make_window(int dialog_id, WindowProc proc, bool modal) {
  const DialogTemplate* t = find_dialog_template(dialog_id);
  if (t == nullptr) return nullptr;
  const frontend::Metrics metrics = frontend::metrics();
  auto w = std::make_unique<Window>();
  w->dialog = dialog_id;
  w->proc = proc;
  w->owner = std::this_thread::get_id();
  w->modal = modal;
  w->caption = t->caption;
  w->width_units = t->width;
  w->height_units = t->height;
  w->width = t->width * metrics.base_x / 4;
  w->height = t->height * metrics.base_y / 8;
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
    w->controls.push_back(std::move(c));
  }
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  w->number = m.next_number++;
  m.windows.push_back(std::move(w));
  return m.windows.back().get();
}

// Runs the procedure on one event, with the default treatment of an unhandled close.
void deliver(Window* w, const Event& event) {
  if (w->proc(w, event) == 0 && event.kind == Event::close) {
    w->proc(w, Event{Event::command, command_cancel});
  }
}

// Takes the next queued event (lock held by `lock`), delivers it unlocked, settles its token.
void deliver_front(Model& m, Window* w, std::unique_lock<std::mutex>& lock) {
  QueuedEvent q = std::move(w->queue.front());
  w->queue.pop_front();
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
bool post_locked(Window* w, const Event& event, std::shared_ptr<CommandToken> token = nullptr) {
  if (w->destroyed) return false;
  w->queue.push_back(QueuedEvent{event, std::move(token)});
  w->wake.notify_all();
  return true;
}

void show_locked(Window* w) {
  if (w->shown || w->destroyed) return;
  w->shown = true;
  frontend::window_shown(snapshot_of(w));
}

}  // namespace

int run_modal(int dialog_id, WindowProc proc) {
  Window* w = make_window(dialog_id, proc, true);
  if (w == nullptr) return -1;
  deliver(w, Event{Event::open, 0});
  Model& m = model();
  std::unique_lock<std::mutex> lock(m.mutex);
  if (!w->ended) show_locked(w);
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
  if (window->ended || window->destroyed) return;
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
  std::lock_guard<std::mutex> lock(model().mutex);
  show_locked(window);
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
  if (!post_locked(window, event, token)) return false;
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
  snapshot.owner = record.owner != nullptr ? record.owner->number : 0;
  snapshot.title = title;
  snapshot.text = text;
  snapshot.task_modal = task_modal;
  frontend::message_opened(snapshot);
  m.tokens.wait(lock, [&record] { return record.dismissed; });
  m.messages.erase(std::find(m.messages.begin(), m.messages.end(), &record));
  frontend::message_closed(record.number);
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
  window->caption = text;
  if (window->shown && !window->destroyed)
    frontend::caption_changed(window->number, window->caption);
}

void set_control_text(Window* window, int control_id, const char* text) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr) return;
  c->text = text;
  if (window->shown && !window->destroyed)
    frontend::control_changed(window->number, *c, ControlChange::text);
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
  window->focus = control_id;
  if (window->shown && !window->destroyed) frontend::focus_changed(window->number, control_id);
}

int focused_control(Window* window) {
  std::lock_guard<std::mutex> lock(model().mutex);
  return window->focus;
}

void set_progress_range(Window* window, int control_id, int max) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr) return;
  c->range_min = 0;
  c->range_max = max & 0xffff;
  if (window->shown && !window->destroyed)
    frontend::control_changed(window->number, *c, ControlChange::progress);
}

void set_progress_position(Window* window, int control_id, int position) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr || c->position == position) return;
  c->position = position;
  if (window->shown && !window->destroyed)
    frontend::control_changed(window->number, *c, ControlChange::progress);
}

void list_append(Window* window, int control_id, const char* text) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr) return;
  c->items.emplace_back(text);
  if (window->shown && !window->destroyed)
    frontend::control_changed(window->number, *c, ControlChange::list);
}

void list_select(Window* window, int control_id, int index) {
  std::lock_guard<std::mutex> lock(model().mutex);
  ControlState* c = find_control(window, control_id);
  if (c == nullptr) return;
  c->selected = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
  if (window->shown && !window->destroyed)
    frontend::control_changed(window->number, *c, ControlChange::list);
}

int list_selection(Window* window, int control_id) {
  std::lock_guard<std::mutex> lock(model().mutex);
  const ControlState* c = find_control(window, control_id);
  return c != nullptr ? c->selected : -1;
}

bool window_rect(Window* window, Rect* rect) {
  std::lock_guard<std::mutex> lock(model().mutex);
  if (window->destroyed) return false;
  *rect = Rect{window->x, window->y, window->x + window->width, window->y + window->height};
  return true;
}

Size screen_size() {
  const frontend::Metrics metrics = frontend::metrics();
  return Size{metrics.screen_width, metrics.screen_height};
}

void move_window(Window* window, int x, int y) {
  std::lock_guard<std::mutex> lock(model().mutex);
  if (window->destroyed) return;
  window->x = x;
  window->y = y;
  if (window->shown) frontend::window_moved(window->number, x, y);
}

int pending_event_count(Window* window) {
  std::lock_guard<std::mutex> lock(model().mutex);
  return static_cast<int>(window->queue.size());
}

int window_number(Window* window) { return window->number; }
int window_dialog(Window* window) { return window->dialog; }

// ---- a person's gestures, from the front end's thread ----

namespace gesture {
namespace {

// Lock held. An open, shown window that takes input now, or nullptr with *error set.
Window* input_window(Model& m, int number, std::string* error) {
  for (auto& w : m.windows) {
    if (w->number != number) continue;
    if (w->destroyed || !w->shown) break;
    if (blocked_by_message(m, w.get())) {
      if (error) *error = "window " + std::to_string(number) + " is blocked by a message window";
      return nullptr;
    }
    return w.get();
  }
  if (error) *error = "no open window " + std::to_string(number);
  return nullptr;
}

ControlState* input_control(Window* w, int control_id, std::string* error) {
  ControlState* c = find_control(w, control_id);
  if (c == nullptr && error)
    *error =
        "window " + std::to_string(w->number) + " has no control " + std::to_string(control_id);
  return c;
}

bool post_gesture(int window, std::string* error, Event event) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  return w != nullptr && post_locked(w, event);
}

}  // namespace

bool press(int window, int control, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  if (w == nullptr) return false;
  ControlState* c = input_control(w, control, error);
  if (c == nullptr) return false;
  if (c->kind != ControlKind::push_button) {
    if (error) *error = "control " + std::to_string(control) + " is not a button";
    return false;
  }
  return post_locked(w, Event{Event::command, control});
}

bool type_text(int window, int control, const std::string& text, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  if (w == nullptr) return false;
  ControlState* c = input_control(w, control, error);
  if (c == nullptr) return false;
  const bool editable = (c->kind == ControlKind::edit && (c->style & style_read_only) == 0) ||
                        c->kind == ControlKind::ipv4_field;
  if (!editable) {
    if (error) *error = "control " + std::to_string(control) + " takes no typing";
    return false;
  }
  // An edit box holds no NUL; what follows one never reaches it.
  std::string typed = text.substr(0, text.find('\0'));
  if (c->style & style_upper_case) {
    for (char& ch : typed)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  c->text = std::move(typed);
  frontend::control_changed(w->number, *c, ControlChange::text);
  return true;
}

bool select(int window, int control, int index, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  if (w == nullptr) return false;
  ControlState* c = input_control(w, control, error);
  if (c == nullptr) return false;
  if (c->kind != ControlKind::drop_down_list || index < 0 ||
      index >= static_cast<int>(c->items.size())) {
    if (error)
      *error = "control " + std::to_string(control) + " has no entry " + std::to_string(index);
    return false;
  }
  c->selected = index;
  frontend::control_changed(w->number, *c, ControlChange::list);
  return true;
}

bool key_enter(int window, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  Window* w = input_window(m, window, error);
  if (w == nullptr) return false;
  int id = command_ok;
  for (const ControlState& c : w->controls)
    if (c.kind == ControlKind::push_button && (c.style & style_default)) id = c.id;
  return post_locked(w, Event{Event::command, id});
}

bool key_escape(int window, std::string* error) {
  return post_gesture(window, error, Event{Event::command, command_cancel});
}

bool close(int window, std::string* error) {
  return post_gesture(window, error, Event{Event::close, 0});
}

bool dismiss(int message, std::string* error) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (MessageRecord* msg : m.messages) {
    if (msg->number == message && !msg->dismissed) {
      msg->dismissed = true;
      m.tokens.notify_all();
      return true;
    }
  }
  if (error) *error = "no open message window " + std::to_string(message);
  return false;
}

int newest_window_of_dialog(int dialog) {
  Model& m = model();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (auto it = m.windows.rbegin(); it != m.windows.rend(); ++it)
    if ((*it)->dialog == dialog && (*it)->shown && !(*it)->destroyed) return (*it)->number;
  return 0;
}

}  // namespace gesture
}  // namespace vxt
