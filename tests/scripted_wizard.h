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
  // Starts the program; nothing is sent yet.
  explicit ScriptedWizard(const std::string& program = VXT_SCRIPTED_PROGRAM);
  ~ScriptedWizard();
  ScriptedWizard(const ScriptedWizard&) = delete;
  ScriptedWizard& operator=(const ScriptedWizard&) = delete;

  void send(const nlohmann::json& action);
  void send_raw(const std::string& line);

  // The next event that satisfies `match`; the ones skipped stay in skipped(). A null json
  // (with a test failure) when the program ends or stays silent for `seconds`: a guard
  // against hangs, not a timing check.
  nlohmann::json expect(const std::function<bool(const nlohmann::json&)>& match,
                        const std::string& what, double seconds = 30);
  nlohmann::json expect_event(const std::string& event, double seconds = 30);
  // The `open` event of a window made from `dialog`.
  nlohmann::json expect_open(int dialog, double seconds = 30);

  // Every event read so far, in order.
  const std::vector<nlohmann::json>& events() const { return events_; }

  // Waits for the process to end; its exit status, or -1 when it did not end in time.
  int wait_exit(double seconds = 30);

 private:
  bool read_line(std::string* line, double seconds);

  pid_t pid_ = -1;
  int to_program_ = -1;
  int from_program_ = -1;
  std::string pending_;
  std::vector<nlohmann::json> events_;
  std::size_t cursor_ = 0;
};

// The text of a control in an `open` event, or "<none>".
std::string control_text(const nlohmann::json& open, int control);

}  // namespace vxt::test
