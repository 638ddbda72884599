// Drives vxt-upgrade-scripted through its JSON-lines protocol, as the end-to-end tests' person.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vxt::test {

class ScriptedWizard {
 public:
  // How to start the program: another program speaking the same protocol can stand in for it
  // (the front end's own tests use a fake wizard), with arguments and, when asked, its stderr
  // on a pipe of its own (read_diagnostic_line) instead of the test's.
  struct Launch {
    std::string program = VXT_SCRIPTED_PROGRAM;
    std::vector<std::string> arguments;
    bool capture_stderr = false;
  };

  // Starts the program; nothing is sent yet.
  explicit ScriptedWizard(const std::string& program = VXT_SCRIPTED_PROGRAM);
  explicit ScriptedWizard(const Launch& launch);
  ~ScriptedWizard();
  ScriptedWizard(const ScriptedWizard&) = delete;
  ScriptedWizard& operator=(const ScriptedWizard&) = delete;

  void send(const nlohmann::json& action);
  void send_raw(const std::string& line);
  // All the lines in one write, as a driver that has several gestures ready at once sends
  // them: the program reads them in one go.
  void send_together(const std::vector<nlohmann::json>& actions);
  void send_raw_together(const std::vector<std::string>& lines);
  // Ends the program's input (it must go on regardless).
  void close_input();

  // The next event that satisfies `match`; the ones skipped stay in events(). A null json
  // (with a test failure) when the program ends or stays silent for `seconds`: a guard
  // against hangs, not a timing check.
  nlohmann::json expect(const std::function<bool(const nlohmann::json&)>& match,
                        const std::string& what, double seconds = 30);
  nlohmann::json expect_event(const std::string& event, double seconds = 30);
  // The `open` event of a window made from `dialog`.
  nlohmann::json expect_open(int dialog, double seconds = 30);

  // Reads every remaining line up to the end of the program's output (or the guard); false
  // when the guard ran out first.
  bool read_to_end(double seconds = 30);

  // Every event read so far, in order.
  const std::vector<nlohmann::json>& events() const { return events_; }

  // One line of the program's stderr (capture_stderr only); false at its end or after the
  // guard.
  bool read_diagnostic_line(std::string* line, double seconds = 30);

  // Waits for the process to end; its exit status, or -1 when it did not end in time.
  int wait_exit(double seconds = 30);

  pid_t pid() const { return pid_; }

 private:
  bool read_line(std::string* line, double seconds);
  void write_all(const std::string& text);

  pid_t pid_ = -1;
  int to_program_ = -1;
  int from_program_ = -1;
  int diagnostics_ = -1;
  std::string pending_;
  std::string pending_diagnostics_;
  std::vector<nlohmann::json> events_;
  std::size_t cursor_ = 0;
};

// The text of a control in an `open` event, or "<none>".
std::string control_text(const nlohmann::json& open, int control);

}  // namespace vxt::test
