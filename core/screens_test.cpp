// The first screens, run on a wizard thread while the test plays the person.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>

#include "core/address_screen.h"
#include "core/random.h"
#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/warning_screen.h"
#include "core/welcome_screen.h"
#include "platform/frontend_recording.h"
#include "platform/window.h"

namespace vxt {
namespace {

class ScreensTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::clear();
    session = SessionState{};
    std::strcpy(session.model_name, "ODM-Product");
    std::strcpy(session.image.version_text, "3.1.8-standin");
  }

  // The snapshot with which the newest window of `dialog` was shown.
  static WindowSnapshot shown(int dialog) {
    const int number = recording::wait_for_window(dialog);
    for (const recording::Note& n : recording::notes())
      if (n.kind == recording::Note::shown && n.window == number) return n.snapshot;
    ADD_FAILURE() << "dialog " << dialog << " was not shown";
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

TEST_F(ScreensTest, WelcomeButtonsSetTheModeAndEscapeIsIgnored) {
  struct Case {
    const char* name;
    int button;
    int mode;
  } cases[] = {{"upgrade", 1028, 1}, {"recover", 1029, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::clear();
    session.mode = 7;
    auto result = std::async(std::launch::async, run_welcome_screen);
    const WindowSnapshot w = shown(welcome_dialog);
    EXPECT_EQ(w.caption, "Tavero Firmware Upgrade Utility");
    EXPECT_EQ(text_of(w, 1031).rfind("Welcome to the Tavero Firmware Upgrade Utility!\r\n\r\n", 0),
              0u);
    EXPECT_NE(text_of(w, 1031).find("irratically"), std::string::npos);
    EXPECT_EQ(text_of(w, 1028), "Upgrade Firmware ");
    ASSERT_TRUE(gesture::key_escape(w.number, nullptr));
    ASSERT_TRUE(gesture::press(w.number, c.button, nullptr));
    EXPECT_EQ(result.get(), 1);
    EXPECT_EQ(session.mode, c.mode);
  }
}

TEST_F(ScreensTest, ClosingTheWelcomeScreenEndsItWithZeroAndLeavesTheMode) {
  session.mode = 7;
  auto result = std::async(std::launch::async, run_welcome_screen);
  const WindowSnapshot w = shown(welcome_dialog);
  ASSERT_TRUE(gesture::key_escape(w.number, nullptr));
  ASSERT_TRUE(gesture::close(w.number, nullptr));
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(session.mode, 7);
}

TEST_F(ScreensTest, WarningScreenCaptionFocusAndItsWaysOut) {
  struct Case {
    const char* name;
    bool (*gesture)(int, std::string*);
    int result;
  } cases[] = {
      {"continue", [](int w, std::string* e) { return gesture::press(w, 1, e); }, 1},
      {"cancel", [](int w, std::string* e) { return gesture::press(w, 2, e); }, 0},
      {"enter presses the default Cancel", gesture::key_enter, 0},
      {"escape", gesture::key_escape, 0},
      {"close box", gesture::close, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::clear();
    auto result = std::async(std::launch::async, run_warning_screen);
    const WindowSnapshot w = shown(warning_dialog);
    EXPECT_EQ(w.caption, "ODM-Product Firmware Upgrade");
    EXPECT_EQ(w.focus, command_cancel);
    EXPECT_EQ(text_of(w, 1021).rfind("WARNING: Forcing a firmware upgrade on your VXT\r\n", 0), 0u);
    ASSERT_TRUE(c.gesture(w.number, nullptr));
    EXPECT_EQ(result.get(), c.result);
  }
}

TEST_F(ScreensTest, AddressScreenListsThePcAddressesAndShowsTheAdaptersPrompt) {
  session.local_addresses[0] = 0x0A010002;
  session.local_addresses[1] = 0xC0A80005;
  session.local_addresses[2] = 0x7F000001;
  auto result = std::async(std::launch::async, run_address_screen);
  const WindowSnapshot w = shown(address_dialog_adapter);
  EXPECT_EQ(w.caption, "VXT Firmware Upgrade");
  EXPECT_EQ(w.focus, 1000);
  const ControlState* chooser = control(w, 1017);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->items, (std::vector<std::string>{"10.1.0.2", "192.168.0.5", "127.0.0.1"}));
  EXPECT_EQ(chooser->selected, 0);
  EXPECT_EQ(text_of(w, 1007), "This program will upgrade your VXT\r\nfirmware to:");
  EXPECT_EQ(text_of(w, 1015), "Version 3.1.8-standin");
  EXPECT_NE(text_of(w, 1008).find("enter # # # #, option 110#"), std::string::npos);
  ASSERT_TRUE(gesture::press(w.number, 2, nullptr));
  EXPECT_EQ(result.get(), 0);
  EXPECT_STREQ(session.tftp_file_name, "");
}

TEST_F(ScreensTest, PhoneUsesDialog168AndItsOwnPrompt) {
  session.device_kind = 1;
  auto result = std::async(std::launch::async, run_address_screen);
  const WindowSnapshot w = shown(address_dialog_phone);
  EXPECT_NE(text_of(w, 1008).find("press the I button on the phone"), std::string::npos);
  const ControlState* chooser = control(w, 1017);
  ASSERT_NE(chooser, nullptr);
  EXPECT_TRUE(chooser->items.empty());
  ASSERT_TRUE(gesture::close(w.number, nullptr));
  EXPECT_EQ(result.get(), 0);
}

TEST_F(ScreensTest, InvalidAddressesAreAnsweredAndAValidOneIsAccepted) {
  session.local_addresses[0] = 0x0A010002;
  session.local_addresses[1] = 0xC0A80005;
  seed_random(0);
  auto result = std::async(std::launch::async, run_address_screen);
  const WindowSnapshot w = shown(address_dialog_adapter);

  const std::string rejected[] = {"0.0.0.0",       "1.2.3", "", "10.1.0.13x", std::string(200, '9'),
                                  "\xff\xfe.1.2.3"};
  for (const std::string& text : rejected) {
    SCOPED_TRACE("typed \"" + text + "\"");
    recording::clear();
    ASSERT_TRUE(gesture::type_text(w.number, 1000, text, nullptr));
    ASSERT_TRUE(gesture::press(w.number, 1, nullptr));
    const MessageSnapshot m = recording::wait_for_message();
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.text, "Invalid IP Address");
    EXPECT_EQ(m.owner, w.number);
    EXPECT_FALSE(m.task_modal);
    EXPECT_LE(std::strlen(session.device_label), 30u);
    EXPECT_EQ(std::string(session.device_label), text.substr(0, 30));
    EXPECT_EQ(session.device_address, 0u);
    ASSERT_TRUE(gesture::dismiss(m.number, nullptr));
    // The focus goes back to the address field once the message is gone.
    ASSERT_TRUE(recording::wait_for([&](const std::vector<recording::Note>& notes) {
      return !notes.empty() && notes.back().kind == recording::Note::focus &&
             notes.back().control == 1000;
    }));
  }
  EXPECT_STREQ(session.tftp_file_name, "");  // a rejected text draws no name

  ASSERT_TRUE(gesture::select(w.number, 1017, 1, nullptr));
  ASSERT_TRUE(gesture::type_text(w.number, 1000, "10.1.0.13", nullptr));
  ASSERT_TRUE(gesture::key_enter(w.number, nullptr));
  EXPECT_EQ(result.get(), 1);
  EXPECT_STREQ(session.device_label, "10.1.0.13");
  EXPECT_EQ(session.device_address, 0x0A01000Du);
  EXPECT_EQ(session.local_address, 0xC0A80005u);
  EXPECT_STREQ(session.tftp_file_name, "/vxt26.bin");  // the first value after seed 0
}

TEST_F(ScreensTest, AnEmptyChooserLeavesTheLocalAddressZero) {
  session.local_address = 0x01010101;
  auto result = std::async(std::launch::async, run_address_screen);
  const WindowSnapshot w = shown(address_dialog_adapter);
  ASSERT_TRUE(gesture::type_text(w.number, 1000, "10.1.0.13", nullptr));
  ASSERT_TRUE(gesture::press(w.number, 1, nullptr));
  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(session.local_address, 0u);
}

TEST_F(ScreensTest, FailureReportIsATaskModalMessageWithoutOwnerThatWaitsForThePerson) {
  auto reported = std::async(std::launch::async, [] {
    report_failure("Upgrade Failed: Winsock init error");
    return true;
  });
  const MessageSnapshot m = recording::wait_for_message();
  EXPECT_EQ(m.title, "VXT Firwmare Upgrade Error");
  EXPECT_EQ(m.text, "Upgrade Failed: Winsock init error");
  EXPECT_EQ(m.owner, 0);
  EXPECT_TRUE(m.task_modal);
  EXPECT_EQ(reported.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  ASSERT_TRUE(gesture::dismiss(m.number, nullptr));
  EXPECT_TRUE(reported.get());
}

}  // namespace
}  // namespace vxt
