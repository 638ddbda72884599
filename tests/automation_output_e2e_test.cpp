// What the automation front end promises about its output, tried with a fake wizard that
// keeps it busy: `exit` is the last line whatever other threads still do, and a driver that
// stops reading stalls nobody but itself while losing no line but superseded progress.
#include <gtest/gtest.h>

#include <string>

#include "tests/scripted_wizard.h"

namespace vxt::test {
namespace {

using nlohmann::json;

// Each run is a new process, so every run has its own chance of meeting the race.
constexpr int runs = 50;

const json start_line = {{"action", "start"}, {"screen", {{"w", 1024}, {"h", 768}}}};

ScriptedWizard::Launch busy(const char* mode, int count, bool capture_stderr = false) {
  ScriptedWizard::Launch launch;
  launch.program = VXT_BUSY_FAKE_WIZARD;
  launch.arguments = {mode, std::to_string(count)};
  launch.capture_stderr = capture_stderr;
  return launch;
}

TEST(AutomationOutput, ExitIsTheLastLineWhileOtherThreadsStillChangeWindows) {
  for (const int enders : {1, 2}) {
    SCOPED_TRACE(std::to_string(enders) + " threads ending the process");
    int late = 0;
    for (int run = 0; run < runs; ++run) {
      ScriptedWizard wizard(busy("end_while_progressing", enders));
      wizard.send(start_line);
      ASSERT_TRUE(wizard.read_to_end()) << "run " << run << ": the program did not end";
      const auto& events = wizard.events();
      int exits = 0;
      for (const json& e : events) exits += e["event"] == "exit";
      const bool last = !events.empty() && events.back()["event"] == "exit";
      if (exits != 1 || !last) ++late;
      EXPECT_EQ(exits, 1) << "run " << run;
      EXPECT_TRUE(last) << "run " << run << ": after exit came "
                        << (events.empty() ? "nothing" : events.back().dump());
      EXPECT_EQ(wizard.wait_exit(), 0);
    }
    EXPECT_EQ(late, 0) << "runs with a line after exit, or no single exit, of " << runs;
  }
}

// The order in which the fake wizard made its changes: progress position p at p, the caption
// "step k" just after position k.
double made_at(const json& e) {
  if (e["event"] == "progress") return e["pos"].get<int>();
  return std::stoi(e["text"].get<std::string>().substr(5)) + 0.5;
}

TEST(AutomationOutput, ADriverThatStopsReadingStallsNothingAndSeesTheLatestPosition) {
  constexpr int steps = 2000;  // over twice what a pipe holds
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ScriptedWizard wizard(busy("flood", steps, true));
    wizard.send(start_line);
    // Nothing of stdout is read until the wizard has made every change.
    std::string done;
    ASSERT_TRUE(wizard.read_diagnostic_line(&done))
        << "the wizard stalled while nobody read its output";
    ASSERT_EQ(done, "flooded");
    wizard.send({{"action", "press"}, {"dialog", 105}, {"control", 2}});
    ASSERT_TRUE(wizard.read_to_end());

    const auto& events = wizard.events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front()["event"], "open");
    EXPECT_EQ(events.back()["event"], "exit");
    EXPECT_EQ(events[events.size() - 2]["event"], "destroy");
    double previous = -1;
    int captions = 0;
    int last_position = -1;
    for (std::size_t i = 1; i + 2 < events.size(); ++i) {
      const json& e = events[i];
      ASSERT_TRUE(e["event"] == "progress" || e["event"] == "caption") << e.dump();
      const double at = made_at(e);
      EXPECT_GT(at, previous) << "out of order: " << e.dump();
      previous = at;
      if (e["event"] == "caption") ++captions;
      if (e["event"] == "progress") last_position = e["pos"].get<int>();
    }
    EXPECT_EQ(captions, steps / 500) << "only superseded progress lines may be left out";
    EXPECT_EQ(last_position, steps) << "the latest position is always shown";
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace vxt::test
