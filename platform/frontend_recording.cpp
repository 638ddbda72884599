#include "platform/frontend_recording.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vxt {
namespace {

struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<recording::Note> notes;
  frontend::Metrics metrics;
};

Recorder& recorder() {
  static Recorder* instance = new Recorder;  // outlives late notifications at exit
  return *instance;
}

void add(recording::Note note) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.notes.push_back(std::move(note));
  r.changed.notify_all();
}

}  // namespace

namespace recording {

std::vector<Note> notes() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.notes;
}

void clear() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.notes.clear();
}

bool wait_for(const std::function<bool(const std::vector<Note>&)>& pred, double seconds) {
  Recorder& r = recorder();
  std::unique_lock<std::mutex> lock(r.mutex);
  return r.changed.wait_for(lock, std::chrono::duration<double>(seconds),
                            [&] { return pred(r.notes); });
}

int wait_for_window(int dialog, double seconds) {
  int number = 0;
  wait_for(
      [&](const std::vector<Note>& notes) {
        for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
          if (it->kind == Note::shown && it->snapshot.dialog == dialog) {
            number = it->window;
            return true;
          }
        }
        return false;
      },
      seconds);
  return number;
}

MessageSnapshot wait_for_message(double seconds) {
  MessageSnapshot found;
  wait_for(
      [&](const std::vector<Note>& notes) {
        for (const Note& n : notes) {
          if (n.kind != Note::message_open) continue;
          bool closed = false;
          for (const Note& c : notes)
            if (c.kind == Note::message_closed && c.window == n.window) closed = true;
          if (!closed) {
            found = n.message;
            return true;
          }
        }
        return false;
      },
      seconds);
  return found;
}

void set_metrics(const frontend::Metrics& metrics) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.metrics = metrics;
}

}  // namespace recording

namespace frontend {

int run(int, char**, void (*start_wizard)()) {
  start_wizard();
  return 0;
}

Metrics metrics() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.metrics;
}

void window_shown(const WindowSnapshot& window) {
  recording::Note n;
  n.kind = recording::Note::shown;
  n.window = window.number;
  n.text = window.caption;
  n.snapshot = window;
  add(std::move(n));
}

void caption_changed(int window, const std::string& caption) {
  recording::Note n;
  n.kind = recording::Note::caption;
  n.window = window;
  n.text = caption;
  add(std::move(n));
}

void control_changed(int window, const ControlState& control, ControlChange) {
  recording::Note n;
  n.kind = recording::Note::control_change;
  n.window = window;
  n.control = control.id;
  n.value = control.position;
  n.text = control.text;
  add(std::move(n));
}

void focus_changed(int window, int control) {
  recording::Note n;
  n.kind = recording::Note::focus;
  n.window = window;
  n.control = control;
  add(std::move(n));
}

void window_moved(int window, int x, int) {
  recording::Note n;
  n.kind = recording::Note::moved;
  n.window = window;
  n.value = x;
  add(std::move(n));
}

void window_destroyed(int window, bool, int result) {
  recording::Note n;
  n.kind = recording::Note::destroyed;
  n.window = window;
  n.value = result;
  add(std::move(n));
}

void message_opened(const MessageSnapshot& message) {
  recording::Note n;
  n.kind = recording::Note::message_open;
  n.window = message.number;
  n.text = message.text;
  n.message = message;
  add(std::move(n));
}

void message_closed(int message) {
  recording::Note n;
  n.kind = recording::Note::message_closed;
  n.window = message;
  add(std::move(n));
}

void input_blocked(int window, bool blocked) {
  recording::Note n;
  n.kind = recording::Note::blocked;
  n.window = window;
  n.value = blocked ? 1 : 0;
  add(std::move(n));
}

void gesture_refused(const std::string& text) {
  recording::Note n;
  n.kind = recording::Note::refused;
  n.text = text;
  add(std::move(n));
}

void process_ending(int status) {
  recording::Note n;
  n.kind = recording::Note::ending;
  n.value = status;
  add(std::move(n));
}

}  // namespace frontend
}  // namespace vxt
