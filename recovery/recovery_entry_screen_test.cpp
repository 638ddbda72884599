// The recovery entry screen (dialog 142), run on a wizard thread while the test plays the
// person.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>

#include "core/random.h"
#include "core/session_state.h"
#include "platform/frontend_recording.h"
#include "platform/window.h"
#include "recovery/recovery_entry_screen.h"

namespace vxt {
namespace {

const char* const adapter_instructions =
    "Before proceeding, please confirm that the VXT's\r\nStatus LED is blinking repeatedly with "
    "the pattern:\r\nshort-short-short-long-long-short-short-short.\r\nOtherwise, restart this "
    "utility and select the\r\n[Upgrade Firmware] option. To continue, you must\r\nprovide the "
    "serial number of the VXT unit.\r\nThe serial number is printed on the bar code\r\nlabel "
    "located at the back cover of the unit.\r\nPlease also make sure that the VXT is in the\r\n"
    "same subnet as this PC.\r\n";

const char* const phone_instructions =
    "Before proceeding, please confirm that the IP\r\nPhone screen is showing the "
    "message:\r\n\"S.O.S. Phone In Recovery Mode\"\r\nOtherwise, restart this utility and select "
    "the\r\n[Upgrade Firmware] option. To continue, you must\r\nprovide the serial number of the "
    "VXT unit.\r\nThe serial number is printed on the bar code\r\nlabel located at the back "
    "cover of the unit.\r\nPlease also make sure that the VXT is in the\r\nsame subnet as this "
    "PC.\r\n";

class RecoveryEntryScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::clear();
    session = SessionState{};
    std::strcpy(session.image.version_text, "3.1.8-standin");
    session.local_addresses[0] = 0x0A010002;
    session.local_addresses[1] = 0xC0A80005;
    seed_random(0);
  }

  static WindowSnapshot shown() {
    const int number = recording::wait_for_window(recovery_entry_dialog);
    for (const recording::Note& n : recording::notes())
      if (n.kind == recording::Note::shown && n.window == number) return n.snapshot;
    ADD_FAILURE() << "the recovery entry screen was not shown";
    return {};
  }

  static const ControlState* control(const WindowSnapshot& w, int id) {
    for (const ControlState& c : w.controls)
      if (c.id == id) return &c;
    return nullptr;
  }

  static std::string text_of(const WindowSnapshot& w, int id) {
    const ControlState* c = control(w, id);
    return c != nullptr ? c->text : "<no control>";
  }
};

TEST_F(RecoveryEntryScreen, ShowsTheInstructionsOfEachDeviceKindTheImageVersionAndTheChooser) {
  struct Case {
    int device_kind;
    const char* instructions;
  } cases[] = {{0, adapter_instructions}, {1, phone_instructions}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device_kind);
    recording::clear();
    session.device_kind = c.device_kind;
    auto result = std::async(std::launch::async, run_recovery_entry_screen);
    const WindowSnapshot w = shown();
    EXPECT_EQ(w.caption, "VXT Firmware Recovery");
    EXPECT_TRUE(w.modal);
    EXPECT_EQ(w.focus, 1027);
    EXPECT_EQ(text_of(w, 1031),
              "You can use this utility to recover a VXT unit\r\nwith a corrupted firmware image "
              "to:");
    EXPECT_EQ(text_of(w, 1032), "Version 3.1.8-standin");
    EXPECT_EQ(text_of(w, 1030), c.instructions);
    EXPECT_EQ(text_of(w, 1027), "");
    const ControlState* chooser = control(w, 1017);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->items, (std::vector<std::string>{"10.1.0.2", "192.168.0.5"}));
    EXPECT_EQ(chooser->selected, 0);
    EXPECT_EQ(w.x, (1024 - w.width) >> 1);  // centred on the recording front end's screen
    ASSERT_TRUE(gesture::press(w.number, 2, nullptr));
    EXPECT_EQ(result.get(), 0);
  }
}

TEST_F(RecoveryEntryScreen, ContinueTakesTheCapitalisedSerialCutTo19AndTheChosenAddress) {
  struct Case {
    const char* name;
    std::string typed;
    const char* serial;
    bool enter_key;
  } cases[] = {
      {"small letters become capitals", "vx00ab-1z", "VX00AB-1Z", false},
      {"only the first 19 characters count", "abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRS",
       true},
      {"an empty serial is accepted", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::clear();
    seed_random(0);
    std::strcpy(session.device_label, "earlier label");
    auto result = std::async(std::launch::async, run_recovery_entry_screen);
    const WindowSnapshot w = shown();
    ASSERT_TRUE(gesture::type_text(w.number, 1027, c.typed, nullptr));
    ASSERT_TRUE(gesture::select(w.number, 1017, 1, nullptr));
    ASSERT_TRUE(c.enter_key ? gesture::key_enter(w.number, nullptr)
                            : gesture::press(w.number, 1, nullptr));
    EXPECT_EQ(result.get(), 1);
    EXPECT_STREQ(session.recovery_serial, c.serial);
    EXPECT_STREQ(session.device_label, c.serial);
    EXPECT_EQ(session.local_address, 0xC0A80005u);
    EXPECT_STREQ(session.tftp_file_name, "/vxt26.bin");  // drawn once: the first value after 0
  }
}

TEST_F(RecoveryEntryScreen, CancelEscapeAndTheCloseBoxEndItWithZeroAndDrawNoName) {
  struct Case {
    const char* name;
    bool (*gesture)(int, std::string*);
  } cases[] = {
      {"cancel", [](int w, std::string* e) { return gesture::press(w, 2, e); }},
      {"escape", gesture::key_escape},
      {"close box", gesture::close},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::clear();
    auto result = std::async(std::launch::async, run_recovery_entry_screen);
    const WindowSnapshot w = shown();
    ASSERT_TRUE(gesture::type_text(w.number, 1027, "VX1", nullptr));
    ASSERT_TRUE(c.gesture(w.number, nullptr));
    EXPECT_EQ(result.get(), 0);
    EXPECT_STREQ(session.recovery_serial, "");
    EXPECT_STREQ(session.tftp_file_name, "");
    EXPECT_EQ(session.local_address, 0u);
  }
}

TEST_F(RecoveryEntryScreen, AnEmptyChooserLeavesTheLocalAddressZero) {
  session.local_addresses[0] = 0;
  session.local_address = 0x01010101;
  auto result = std::async(std::launch::async, run_recovery_entry_screen);
  const WindowSnapshot w = shown();
  ASSERT_TRUE(control(w, 1017)->items.empty());
  ASSERT_TRUE(gesture::press(w.number, 1, nullptr));
  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(session.local_address, 0u);
}

}  // namespace
}  // namespace vxt
