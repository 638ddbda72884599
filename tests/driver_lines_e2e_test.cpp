// The scripted wizard driven the way a program drives it: several lines in one write. Each
// line takes effect in the order written, as a person's gestures would, and the wizard lives
// exactly as long as its driver.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/scripted_wizard.h"

namespace vxt::test {
namespace {

using nlohmann::json;

// Each run is a new process, so every run has its own chance of meeting the race.
constexpr int runs = 50;

// Loopback only: whatever the wizard does with an accepted address stays on this machine.
const json start_line = {{"action", "start"},
                         {"addresses", {"127.0.0.1", "127.0.0.3"}},
                         {"screen", {{"w", 1024}, {"h", 768}}}};
const char* const device = "127.0.0.2";
const char* const not_an_address = "10.1.0.300";

json walk_to_address_screen(ScriptedWizard& wizard) {
  wizard.send(start_line);
  wizard.expect_open(141);
  wizard.send({{"action", "press"}, {"dialog", 141}, {"control", 1028}});
  wizard.expect_open(139);
  wizard.send({{"action", "press"}, {"dialog", 139}, {"control", 1}});
  return wizard.expect_open(101);
}

json type(const json& window, const char* text) {
  return {{"action", "type"}, {"window", window}, {"control", 1000}, {"text", text}};
}
json press_ok(const json& window) {
  return {{"action", "press"}, {"window", window}, {"control", 1}};
}

// The first event from events()[from] on that matches, reading more when needed.
json first_from(ScriptedWizard& wizard, std::size_t from,
                const std::function<bool(const json&)>& match, const std::string& what) {
  for (std::size_t i = from; i < wizard.events().size(); ++i)
    if (match(wizard.events()[i])) return wizard.events()[i];
  return wizard.expect(match, what);
}

// The address screen's verdict on what it was given: its end, or a message.
json verdict(ScriptedWizard& wizard, std::size_t from, const json& window) {
  return first_from(
      wizard, from,
      [&](const json& e) {
        return e["event"] == "message" || (e["event"] == "destroy" && e["window"] == window);
      },
      "message or end of the address screen");
}

bool accepted(const json& e) { return e["event"] == "destroy" && e["result"] == 1; }

TEST(DriverLines, AfterADismissTheNextLineFindsTheMessageGone) {
  int failures = 0;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ScriptedWizard wizard;
    const json window = walk_to_address_screen(wizard)["window"];
    wizard.send_together({type(window, not_an_address), press_ok(window)});
    const json message = wizard.expect_event("message");
    ASSERT_EQ(message["text"], "Invalid IP Address");
    const std::size_t from = wizard.events().size();
    wizard.send_together({{{"action", "dismiss"}, {"window", message["window"]}},
                          type(window, device),
                          press_ok(window)});
    // A refused line, a second message for the old text, or the accepted address.
    const json answer = first_from(
        wizard, from,
        [&](const json& e) {
          return e["event"] == "error" || e["event"] == "message" ||
                 (e["event"] == "destroy" && e["window"] == window);
        },
        "the address screen's answer");
    const bool good = accepted(answer);
    EXPECT_TRUE(good) << answer.dump();
    failures += !good;
  }
  EXPECT_EQ(failures, 0) << "failed runs of " << runs;
}

TEST(DriverLines, TypingNeverOvertakesAPressWrittenBeforeIt) {
  int failures = 0;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ScriptedWizard wizard;
    const json window = walk_to_address_screen(wizard)["window"];
    const std::size_t from = wizard.events().size();
    wizard.send_together({type(window, device), press_ok(window), type(window, not_an_address)});
    const json answer = verdict(wizard, from, window);
    const bool good = accepted(answer);
    EXPECT_TRUE(good) << "the later text was checked: " << answer.dump();
    failures += !good;
    if (!good) continue;
    // The typing came after the screen had ended: refused aloud, never lost, unless the
    // process ended before its line was read.
    const json after = first_from(
        wizard, from, [](const json& e) { return e["event"] == "error" || e["event"] == "exit"; },
        "error for the typing into the ended screen");
    if (after["event"] == "error") {
      EXPECT_NE(after["text"].get<std::string>().find("window " + window.dump()), std::string::npos)
          << after.dump();
    }
  }
  EXPECT_EQ(failures, 0) << "failed runs of " << runs;
}

TEST(DriverLines, TheEndOfInputChangesNothing) {
  ScriptedWizard wizard;
  wizard.send(start_line);
  wizard.expect_open(141);
  wizard.send({{"action", "press"}, {"dialog", 141}, {"control", 1028}});
  wizard.close_input();
  // The press written before the end still takes effect, and the wizard goes on.
  EXPECT_EQ(wizard.expect_open(139)["dialog"], 139);
}

// Reads from `fd` until `needle` has come; false at the end of the stream or after the guard.
bool read_until(int fd, const std::string& needle) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen.find(needle) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

TEST(DriverLines, TheWizardEndsWhenTheProcessThatStartedItDies) {
  // The orphaned wizard becomes our child, so we can see it end.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const std::string first_line = start_line.dump() + "\n";
  int output[2];
  int pid_pipe[2];
  ASSERT_EQ(pipe(output), 0);
  ASSERT_EQ(pipe(pid_pipe), 0);
  const pid_t driver = fork();
  ASSERT_GE(driver, 0);
  if (driver == 0) {
    // The driver: starts the wizard, writes its first line, keeps its input open and waits.
    int input[2];
    if (pipe(input) != 0) _exit(1);
    const pid_t child = fork();
    if (child == 0) {
      dup2(input[0], STDIN_FILENO);
      dup2(output[1], STDOUT_FILENO);
      for (int fd : {input[0], input[1], output[0], output[1], pid_pipe[0], pid_pipe[1]}) close(fd);
      execl(VXT_SCRIPTED_PROGRAM, VXT_SCRIPTED_PROGRAM, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (write(pid_pipe[1], &child, sizeof child) != sizeof child) _exit(1);
    if (write(input[1], first_line.data(), first_line.size()) < 0) _exit(1);
    for (;;) pause();
  }
  close(output[1]);
  close(pid_pipe[1]);
  pid_t wizard = -1;
  ASSERT_EQ(read(pid_pipe[0], &wizard, sizeof wizard), static_cast<ssize_t>(sizeof wizard));
  close(pid_pipe[0]);
  EXPECT_TRUE(read_until(output[0], "\"dialog\":141")) << "the wizard did not start";

  kill(driver, SIGKILL);
  waitpid(driver, nullptr, 0);
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    ended = waitpid(wizard, nullptr, WNOHANG) == wizard;
    if (!ended) usleep(2000);
  }
  EXPECT_TRUE(ended) << "the wizard lives on after its driver died";
  if (!ended) {
    kill(wizard, SIGKILL);
    waitpid(wizard, nullptr, 0);
  }
  close(output[0]);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace vxt::test
