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

ScriptedWizard::ScriptedWizard(const std::string& program) {
  int in[2];
  int out[2];
  if (pipe(in) != 0 || pipe(out) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_program_ = in[1];
  from_program_ = out[0];
  signal(SIGPIPE, SIG_IGN);
}

ScriptedWizard::~ScriptedWizard() {
  if (to_program_ >= 0) close(to_program_);
  if (from_program_ >= 0) close(from_program_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ScriptedWizard::send(const json& action) { send_raw(action.dump()); }

void ScriptedWizard::send_raw(const std::string& line) {
  const std::string text = line + "\n";
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

bool ScriptedWizard::read_line(std::string* line, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      *line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{from_program_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(from_program_, buffer, sizeof buffer);
    if (n <= 0) return false;  // the program ended
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
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
