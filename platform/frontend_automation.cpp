// The automation front end: the wizard driven by JSON lines on stdin, reporting on stdout.
//
// This protocol is a stable interface for tests, demos and outside checkers: extend it, never
// change what exists. One JSON object per line each way.
// Texts are bytes of the single-byte character set (Latin-1) inside the model and UTF-8 in
// JSON.
//
// Lines go out through a writer thread of their own, so a driver that reads slowly holds up
// only its own view, never the model's lock and with it every wizard thread.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/clock.h"
#include "platform/frontend.h"
#include "platform/host_addresses.h"
#include "platform/socket.h"

namespace vxt {
namespace {

using nlohmann::json;

// A progress bar's state, turned into its line only when it is written: a bar that moves every
// millisecond costs its thread no formatting for the positions nobody will see.
struct ProgressLine {
  int window = 0;
  int control = 0;
  int min = 0;
  int max = 0;
  int pos = 0;
};

std::string progress_line_text(const ProgressLine& p);

// The lines waiting for stdout. Never blocks the caller. A progress line replaces the
// unwritten progress line of the same control, so the queue holds at most one per progress
// bar besides the other lines, none of which is ever dropped.
//
// Writes are at least `write_interval` apart: a line after a quiet spell goes out at once,
// and what a flood brings meanwhile goes out in one write at the end of the pause. So a bar
// moved a thousand times a second costs this thread about a hundred wake-ups, and the threads
// making lines wake it only when it is idle, never during a pause. After the last line
// nothing more is taken.
class LineWriter {
 public:
  void start() {
    std::thread([this] { write_lines(); }).detach();
  }

  void put(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || broken_) return;
    lines_.push_back(Line{std::move(text) + '\n', false, {}});
    wake_if_idle();
  }

  void put_progress(const ProgressLine& progress) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || broken_) return;
    const std::pair<int, int> key{progress.window, progress.control};
    auto pending = pending_progress_.find(key);
    if (pending != pending_progress_.end()) {
      // The unwritten line moves behind the lines made since, and takes the new state.
      lines_.splice(lines_.end(), lines_, pending->second);
      pending->second->state = progress;
    } else {
      lines_.push_back(Line{{}, true, progress});
      pending_progress_.emplace(key, std::prev(lines_.end()));
    }
    wake_if_idle();
  }

  // Queues the last line and waits until everything before it, and it, has been written (or
  // the driver has gone). Whoever comes later waits for good: the first one ends the process.
  void finish(std::string text) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) {
      for (;;) idle_.wait(lock);
    }
    lines_.push_back(Line{std::move(text) + '\n', false, {}});
    closed_ = true;
    wake_.notify_one();  // also ends a pause between writes: the last line does not wait
    idle_.wait(lock, [this] { return (lines_.empty() && !writing_) || broken_; });
  }

 private:
  struct Line {
    std::string text;  // with its newline; empty for a progress line
    bool progress;
    ProgressLine state;
  };

  static constexpr std::chrono::milliseconds write_interval{10};

  // Lock held.
  void wake_if_idle() {
    if (idle_waiting_) wake_.notify_one();
  }

  void write_lines() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (lines_.empty()) {
        idle_waiting_ = true;
        wake_.wait(lock, [this] { return !lines_.empty(); });
        idle_waiting_ = false;
      }
      // Everything waiting goes out in one write; what comes meanwhile waits for the next.
      std::list<Line> batch;
      batch.swap(lines_);
      pending_progress_.clear();
      writing_ = true;
      lock.unlock();
      std::string text;
      for (const Line& line : batch) {
        text += line.progress ? progress_line_text(line.state) : line.text;
      }
      const bool written = write_all(text);
      lock.lock();
      writing_ = false;
      if (!written) broken_ = true;  // the driver has gone: nobody reads any more
      if (lines_.empty() || broken_) idle_.notify_all();
      if (broken_) lines_.clear();
      // The pause that gathers a flood into the next write; the last line cuts it short.
      wake_.wait_for(lock, write_interval, [this] { return closed_; });
    }
  }

  static bool write_all(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // lines to write, or the last one
  std::condition_variable idle_;  // everything written
  std::list<Line> lines_;
  // The unwritten progress line of each (window, control).
  std::map<std::pair<int, int>, std::list<Line>::iterator> pending_progress_;
  bool idle_waiting_ = false;  // the writer waits for lines, not for its next turn
  bool writing_ = false;
  bool closed_ = false;
  bool broken_ = false;
};

// Used until _exit, by every thread.
LineWriter& writer() {
  static LineWriter* w = new LineWriter;
  return *w;
}

std::mutex metrics_mutex;
frontend::Metrics& metrics_store() {
  static frontend::Metrics* m = new frontend::Metrics;
  return *m;
}

std::string latin1_to_utf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// JSON strings are valid UTF-8 once parsed; characters beyond Latin-1 become '?', as a
// single-byte system shows what it cannot hold.
std::string utf8_to_latin1(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
    if (i + static_cast<std::size_t>(length) > text.size()) length = 1;
    if (length == 1) {
      out += static_cast<char>(c);
    } else if (length == 2) {
      const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      out += code <= 0xFF ? static_cast<char>(code) : '?';
    } else {
      out += '?';
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string line_text(const json& line) {
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

void emit(const json& line) { writer().put(line_text(line)); }

std::string progress_line_text(const ProgressLine& p) {
  return line_text({{"event", "progress"},
                    {"window", p.window},
                    {"control", p.control},
                    {"min", p.min},
                    {"max", p.max},
                    {"pos", p.pos}}) +
         '\n';
}

void emit_error(const std::string& text) { emit({{"event", "error"}, {"text", text}}); }

const char* kind_name(ControlKind kind) {
  switch (kind) {
    case ControlKind::push_button:
      return "push_button";
    case ControlKind::static_text:
      return "static_text";
    case ControlKind::edit:
      return "edit";
    case ControlKind::progress_bar:
      return "progress_bar";
    case ControlKind::drop_down_list:
      return "drop_down_list";
    case ControlKind::ipv4_field:
      return "ipv4_field";
    case ControlKind::icon:
      return "icon";
  }
  return "unknown";
}

json items_json(const ControlState& c) {
  json items = json::array();
  for (const std::string& item : c.items) items.push_back(latin1_to_utf8(item));
  return items;
}

json control_json(const ControlState& c) {
  json j = {{"id", c.id}, {"kind", kind_name(c.kind)}, {"text", latin1_to_utf8(c.text)}};
  if (c.kind == ControlKind::push_button && (c.style & style_default)) j["default"] = true;
  if (c.kind == ControlKind::progress_bar) {
    j["min"] = c.range_min;
    j["max"] = c.range_max;
    j["pos"] = c.position;
  }
  if (c.kind == ControlKind::drop_down_list) {
    j["items"] = items_json(c);
    j["selected"] = c.selected;
  }
  return j;
}

// ---- the driver's lines ----

bool started = false;

// The window a line names: "window", or "dialog" for the newest open window of that template.
bool target_window(const json& line, int* window, std::string* error) {
  if (line.contains("window") && line["window"].is_number_integer()) {
    *window = line["window"].get<int>();
    return true;
  }
  if (line.contains("dialog") && line["dialog"].is_number_integer()) {
    *window = gesture::newest_window_of_dialog(line["dialog"].get<int>());
    if (*window != 0) return true;
    *error = "no open window of dialog " + std::to_string(line["dialog"].get<int>());
    return false;
  }
  *error = "missing window";
  return false;
}

bool integer_field(const json& line, const char* name, int* value, std::string* error) {
  if (!line.contains(name) || !line[name].is_number_integer()) {
    *error = std::string("missing or non-integer field ") + name;
    return false;
  }
  *value = line[name].get<int>();
  return true;
}

bool apply_start(const json& line, void (*start_wizard)(), std::string* error) {
  if (started) {
    *error = "start was already given";
    return false;
  }
  if (line.contains("clock")) {
    if (!line["clock"].is_number_unsigned() || line["clock"].get<std::uint64_t>() > 0xFFFFFFFFu) {
      *error = "clock must be a 32-bit unsigned number";
      return false;
    }
  }
  std::uint32_t addresses[8];
  int count = 0;
  if (line.contains("addresses")) {
    if (!line["addresses"].is_array() || line["addresses"].size() > 8) {
      *error = "addresses must be a list of at most 8 dotted IPv4 texts";
      return false;
    }
    for (const json& a : line["addresses"]) {
      if (!a.is_string() || !dotted_to_address(a.get<std::string>().c_str(), &addresses[count])) {
        *error = "addresses must be a list of at most 8 dotted IPv4 texts";
        return false;
      }
      ++count;
    }
  }
  frontend::Metrics metrics = metrics_store();
  if (line.contains("screen")) {
    const json& s = line["screen"];
    if (!s.is_object() || !s.contains("w") || !s.contains("h") || !s["w"].is_number_integer() ||
        !s["h"].is_number_integer()) {
      *error = "screen must be {\"w\":int,\"h\":int}";
      return false;
    }
    metrics.screen_width = s["w"].get<int>();
    metrics.screen_height = s["h"].get<int>();
  }
  if (line.contains("clock"))
    set_clock_reading(static_cast<std::uint32_t>(line["clock"].get<std::uint64_t>()));
  if (line.contains("addresses")) set_host_addresses_override(addresses, count);
  {
    std::lock_guard<std::mutex> lock(metrics_mutex);
    metrics_store() = metrics;
  }
  started = true;
  start_wizard();
  return true;
}

bool apply(const json& line, void (*start_wizard)(), std::string* error) {
  if (!line.is_object() || !line.contains("action") || !line["action"].is_string()) {
    *error = "a line must be an object with an \"action\"";
    return false;
  }
  const std::string action = line["action"].get<std::string>();
  if (action == "start") return apply_start(line, start_wizard, error);
  if (!started) {
    *error = "the first line must be a start action";
    return false;
  }
  if (action == "advance_clock") {
    if (!line.contains("ms") || !line["ms"].is_number_unsigned() ||
        line["ms"].get<std::uint64_t>() > 0xFFFFFFFFu) {
      *error = "ms must be a 32-bit unsigned number";
      return false;
    }
    advance_clock(static_cast<std::uint32_t>(line["ms"].get<std::uint64_t>()));
    return true;
  }
  int window = 0;
  int control = 0;
  if (action == "dismiss") {
    return integer_field(line, "window", &window, error) && gesture::dismiss(window, error);
  }
  if (!target_window(line, &window, error)) return false;
  if (action == "press") {
    return integer_field(line, "control", &control, error) &&
           gesture::press(window, control, error);
  }
  if (action == "type") {
    if (!integer_field(line, "control", &control, error)) return false;
    if (!line.contains("text") || !line["text"].is_string()) {
      *error = "missing text";
      return false;
    }
    return gesture::type_text(window, control, utf8_to_latin1(line["text"].get<std::string>()),
                              error);
  }
  if (action == "select") {
    int index = 0;
    return integer_field(line, "control", &control, error) &&
           integer_field(line, "index", &index, error) &&
           gesture::select(window, control, index, error);
  }
  if (action == "key") {
    const std::string key =
        line.contains("key") && line["key"].is_string() ? line["key"].get<std::string>() : "";
    if (key == "enter") return gesture::key_enter(window, error);
    if (key == "escape") return gesture::key_escape(window, error);
    *error = "key must be \"enter\" or \"escape\"";
    return false;
  }
  if (action == "close") return gesture::close(window, error);
  *error = "unknown action " + action;
  return false;
}

// The wizard lives as long as the process that started it (its driver): when that process
// ends, so does the wizard, at once and without an exit line, so that a dead driver leaves no
// wizard holding ports behind. The end of input alone changes nothing.
void end_with_driver() {
  const pid_t driver = getppid();
  const int driver_fd = static_cast<int>(syscall(SYS_pidfd_open, driver, 0));
  if (driver_fd >= 0) {
    // Readable once the whole driver process has ended, whichever of its threads started us.
    std::thread([driver_fd] {
      pollfd p{driver_fd, POLLIN, 0};
      while (poll(&p, 1, -1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }).detach();
  } else {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
  }
  // Ended before we watched it: we already belong to another parent.
  if (getppid() != driver) _exit(0);
}

}  // namespace

namespace frontend {

int run(int, char**, void (*start_wizard)()) {
  // A driver that has gone makes writes fail; they must not end the process by a signal.
  signal(SIGPIPE, SIG_IGN);
  end_with_driver();
  writer().start();
  std::string text;
  while (std::getline(std::cin, text)) {
    if (text.empty() || text == "\r") continue;
    std::string error;
    const json line = json::parse(text, nullptr, false);
    if (line.is_discarded()) {
      emit_error("malformed JSON line");
    } else if (!apply(line, start_wizard, &error)) {
      emit_error(error);
    }
  }
  // The end of input changes nothing: the wizard ends the process.
  for (;;) pause();
}

Metrics metrics() {
  std::lock_guard<std::mutex> lock(metrics_mutex);
  return metrics_store();
}

void window_shown(const WindowSnapshot& w) {
  json controls = json::array();
  for (const ControlState& c : w.controls) controls.push_back(control_json(c));
  emit({{"event", "open"},
        {"window", w.number},
        {"dialog", w.dialog},
        {"caption", latin1_to_utf8(w.caption)},
        {"modal", w.modal},
        {"controls", controls},
        {"focus", w.focus},
        {"x", w.x},
        {"y", w.y},
        {"w", w.width},
        {"h", w.height}});
}

void caption_changed(int window, const std::string& caption) {
  emit({{"event", "caption"}, {"window", window}, {"text", latin1_to_utf8(caption)}});
}

void control_changed(int window, const ControlState& c, ControlChange change) {
  switch (change) {
    case ControlChange::text:
      emit({{"event", "text"},
            {"window", window},
            {"control", c.id},
            {"text", latin1_to_utf8(c.text)}});
      break;
    case ControlChange::progress:
      writer().put_progress({window, c.id, c.range_min, c.range_max, c.position});
      break;
    case ControlChange::list:
      emit({{"event", "list"},
            {"window", window},
            {"control", c.id},
            {"items", items_json(c)},
            {"selected", c.selected}});
      break;
  }
}

void focus_changed(int window, int control) {
  emit({{"event", "focus"}, {"window", window}, {"control", control}});
}

void window_moved(int window, int x, int y) {
  emit({{"event", "move"}, {"window", window}, {"x", x}, {"y", y}});
}

void window_destroyed(int window, bool had_result, int result) {
  json line = {{"event", "destroy"}, {"window", window}};
  if (had_result) line["result"] = result;
  emit(line);
}

void message_opened(const MessageSnapshot& m) {
  emit({{"event", "message"},
        {"window", m.number},
        {"owner", m.owner != 0 ? json(m.owner) : json(nullptr)},
        {"title", latin1_to_utf8(m.title)},
        {"text", latin1_to_utf8(m.text)},
        {"task_modal", m.task_modal}});
}

void message_closed(int message) { emit({{"event", "destroy"}, {"window", message}}); }

// The driver learns of blocking from the message events themselves.
void input_blocked(int, bool) {}

void gesture_refused(const std::string& text) { emit_error(text); }

// Everything queued goes out first; nothing any thread does afterwards is printed.
void process_ending(int status) {
  writer().finish(line_text({{"event", "exit"}, {"status", status}}));
}

}  // namespace frontend
}  // namespace vxt
