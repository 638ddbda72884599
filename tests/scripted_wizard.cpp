#include "tests/scripted_wizard.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace vxt::test {

using nlohmann::json;

namespace {

enum class ReadResult { line, ended, silent };

// One line from `fd` into *line, keeping what follows it in `pending`.
ReadResult read_line_from(int fd, std::string& pending, std::string* line, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const std::size_t newline = pending.find('\n');
    if (newline != std::string::npos) {
      *line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      return ReadResult::line;
    }
    if (fd < 0) return ReadResult::ended;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ReadResult::silent;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return ReadResult::ended;
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ScriptedWizard::ScriptedWizard(const std::string& program)
    : ScriptedWizard(Launch{program, {}, false}) {}

ScriptedWizard::ScriptedWizard(const Launch& launch) {
  int in[2];
  int out[2];
  int err[2] = {-1, -1};
  if (pipe(in) != 0 || pipe(out) != 0 || (launch.capture_stderr && pipe(err) != 0)) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(launch.program.c_str()));
  for (const std::string& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (err[1] >= 0) dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      if (fd > STDERR_FILENO) close(fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  to_program_ = in[1];
  from_program_ = out[0];
  diagnostics_ = err[0];
  signal(SIGPIPE, SIG_IGN);
}

ScriptedWizard::~ScriptedWizard() {
  if (to_program_ >= 0) close(to_program_);
  if (from_program_ >= 0) close(from_program_);
  if (diagnostics_ >= 0) close(diagnostics_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ScriptedWizard::send(const json& action) { send_raw(action.dump()); }

void ScriptedWizard::send_raw(const std::string& line) { write_all(line + "\n"); }

void ScriptedWizard::send_together(const std::vector<json>& actions) {
  std::vector<std::string> lines;
  for (const json& a : actions) lines.push_back(a.dump());
  send_raw_together(lines);
}

void ScriptedWizard::send_raw_together(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  write_all(text);
}

void ScriptedWizard::write_all(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(to_program_, text.data() + done, text.size() - done);
    if (n <= 0) {
      ADD_FAILURE() << "the program no longer reads its input";
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void ScriptedWizard::close_input() {
  if (to_program_ >= 0) close(to_program_);
  to_program_ = -1;
}

bool ScriptedWizard::read_line(std::string* line, double seconds) {
  return read_line_from(from_program_, pending_, line, seconds) == ReadResult::line;
}

bool ScriptedWizard::read_diagnostic_line(std::string* line, double seconds) {
  return read_line_from(diagnostics_, pending_diagnostics_, line, seconds) == ReadResult::line;
}

json ScriptedWizard::expect(const std::function<bool(const json&)>& match, const std::string& what,
                            double seconds) {
  for (;;) {
    while (cursor_ < events_.size()) {
      const json& e = events_[cursor_++];
      if (match(e)) return e;
    }
    std::string line;
    if (!read_line(&line, seconds)) {
      ADD_FAILURE() << "no " << what << " event came";
      return json();
    }
    json e = json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object() || !e.contains("event")) {
      ADD_FAILURE() << "not a JSON event line: " << line;
      continue;
    }
    events_.push_back(std::move(e));
  }
}

json ScriptedWizard::expect_event(const std::string& event, double seconds) {
  return expect([&](const json& e) { return e["event"] == event; }, event, seconds);
}

json ScriptedWizard::expect_open(int dialog, double seconds) {
  return expect([&](const json& e) { return e["event"] == "open" && e["dialog"] == dialog; },
                "open of dialog " + std::to_string(dialog), seconds);
}

bool ScriptedWizard::read_to_end(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const double left =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    std::string line;
    switch (read_line_from(from_program_, pending_, &line, left)) {
      case ReadResult::ended:
        return true;
      case ReadResult::silent:
        return false;
      case ReadResult::line:
        break;
    }
    json e = json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object() || !e.contains("event")) {
      ADD_FAILURE() << "not a JSON event line: " << line;
      continue;
    }
    events_.push_back(std::move(e));
  }
}

int ScriptedWizard::wait_exit(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(2000);
  }
  return -1;
}

std::string control_text(const json& open, int control) {
  if (!open.contains("controls")) return "<none>";
  for (const json& c : open["controls"])
    if (c["id"] == control) return c["text"].get<std::string>();
  return "<none>";
}

}  // namespace vxt::test
