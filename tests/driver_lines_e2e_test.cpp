// The scripted wizard driven the way a program drives it: several lines in one write. Each
// line takes effect in the order written, as a person's gestures would.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vxt::test
