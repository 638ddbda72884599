// The scripted wizard from start-up to an accepted address, and its silent endings.
#include <gtest/gtest.h>

#include <string>

#include "tests/scripted_wizard.h"

namespace vxt::test {
namespace {

using nlohmann::json;

const json start_line = {{"action", "start"},
                         {"addresses", {"10.1.0.2", "192.168.7.3", "127.0.0.1"}},
                         {"screen", {{"w", 1024}, {"h", 768}}}};

// Walks to the open address screen and returns its open event.
json walk_to_address_screen(ScriptedWizard& wizard) {
  wizard.send(start_line);
  const json welcome = wizard.expect_open(141);
  wizard.send({{"action", "press"}, {"window", welcome["window"]}, {"control", 1028}});
  wizard.expect_open(139);
  wizard.send({{"action", "press"}, {"dialog", 139}, {"control", 1}});
  return wizard.expect_open(101);
}

TEST(FirstScreens, WalkFromStartUpToAnAcceptedAddress) {
  ScriptedWizard wizard;
  wizard.send(start_line);
  const json welcome = wizard.expect_open(141);
  EXPECT_EQ(welcome["caption"], "Tavero Firmware Upgrade Utility");
  EXPECT_EQ(welcome["modal"], true);
  EXPECT_EQ(control_text(welcome, 1028), "Upgrade Firmware ");
  EXPECT_EQ(control_text(welcome, 1029), "Recover Firmware");
  EXPECT_EQ(control_text(welcome, 1031),
            "Welcome to the Tavero Firmware Upgrade Utility!\r\n\r\nTo begin, select the [Upgrade "
            "Firmware]\r\noption if you would like upgrade the fimrware\r\non a normal VXT "
            "unit.\r\n\r\nIf your VXT has a corrupted image and the\r\nStatus LED is blinking "
            "irratically, select\r\nthe [Recover Firmware] option and follow the\r\non-screen "
            "instructions.");
  EXPECT_EQ(welcome["x"], (1024 - 288) / 2);  // centred: 192 x 149 units are 288 x 242 pixels

  // Escape does nothing: the next thing that happens is the press that follows it.
  wizard.send({{"action", "key"}, {"window", welcome["window"]}, {"key", "escape"}});
  wizard.send({{"action", "press"}, {"window", welcome["window"]}, {"control", 1028}});
  const json ended = wizard.expect_event("destroy");
  EXPECT_EQ(ended["window"], welcome["window"]);
  EXPECT_EQ(ended["result"], 1);

  const json warning = wizard.expect_open(139);
  EXPECT_EQ(warning["caption"], "ODM-Product Firmware Upgrade");
  EXPECT_EQ(warning["focus"], 2);
  EXPECT_EQ(control_text(warning, 1021).substr(0, 49),
            "WARNING: Forcing a firmware upgrade on your VXT\r\n");
  wizard.send({{"action", "press"}, {"window", warning["window"]}, {"control", 1}});

  const json address = wizard.expect_open(101);
  const json window = address["window"];
  EXPECT_EQ(address["caption"], "VXT Firmware Upgrade");
  EXPECT_EQ(address["focus"], 1000);
  EXPECT_EQ(control_text(address, 1007), "This program will upgrade your VXT\r\nfirmware to:");
  EXPECT_EQ(control_text(address, 1015), "Version 3.1.8-standin");
  EXPECT_NE(control_text(address, 1008).find("For example, 10.1.0.123"), std::string::npos);
  json chooser;
  for (const json& c : address["controls"])
    if (c["id"] == 1017) chooser = c;
  EXPECT_EQ(chooser["items"], json({"10.1.0.2", "192.168.7.3", "127.0.0.1"}));
  EXPECT_EQ(chooser["selected"], 0);

  wizard.send({{"action", "type"}, {"window", window}, {"control", 1000}, {"text", "10.1.0.256"}});
  wizard.send({{"action", "press"}, {"window", window}, {"control", 1}});
  const json message = wizard.expect_event("message");
  EXPECT_EQ(message["title"], "Error");
  EXPECT_EQ(message["text"], "Invalid IP Address");
  EXPECT_EQ(message["owner"], window);
  EXPECT_EQ(message["task_modal"], false);

  // The screen takes no input while its message is up.
  wizard.send({{"action", "press"}, {"window", window}, {"control", 1}});
  EXPECT_NE(wizard.expect_event("error")["text"].get<std::string>().find("blocked"),
            std::string::npos);
  wizard.send({{"action", "dismiss"}, {"window", message["window"]}});
  const json focus = wizard.expect_event("focus");
  EXPECT_EQ(focus["window"], window);
  EXPECT_EQ(focus["control"], 1000);

  wizard.send({{"action", "select"}, {"window", window}, {"control", 1017}, {"index", 1}});
  wizard.send({{"action", "type"}, {"window", window}, {"control", 1000}, {"text", "10.1.0.13"}});
  wizard.send({{"action", "key"}, {"window", window}, {"key", "enter"}});
  const json accepted =
      wizard.expect([&](const json& e) { return e["event"] == "destroy" && e["window"] == window; },
                    "destroy of the address screen");
  EXPECT_EQ(accepted["result"], 1);

  // The wizard goes on to read the device from the chosen PC address, which this namespace
  // does not have: no socket can be bound to it.
  EXPECT_EQ(wizard.expect_open(105)["caption"], "Connecting with VXT@10.1.0.13");
  const json failure = wizard.expect_event("message");
  EXPECT_EQ(failure["text"], "Upgrade Failed: Can't bind HTTP socket");
  wizard.send({{"action", "dismiss"}, {"window", failure["window"]}});
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
}

TEST(FirstScreens, ClosingTheWelcomeScreenEndsAtOnceWithoutAMessage) {
  ScriptedWizard wizard;
  wizard.send(start_line);
  const json welcome = wizard.expect_open(141);
  wizard.send({{"action", "close"}, {"window", welcome["window"]}});
  EXPECT_EQ(wizard.expect_event("destroy")["result"], 0);
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
  for (const json& e : wizard.events()) {
    EXPECT_NE(e["event"], "message");
    if (e["event"] == "open") {
      EXPECT_EQ(e["dialog"], 141) << "only the welcome screen opens";
    }
  }
}

TEST(FirstScreens, CancelOnTheWarningOrAddressScreenEndsSilently) {
  struct Case {
    const char* name;
    int dialog;
    json gesture;
  } cases[] = {
      {"warning Cancel", 139, {{"action", "press"}, {"dialog", 139}, {"control", 2}}},
      {"warning Escape", 139, {{"action", "key"}, {"dialog", 139}, {"key", "escape"}}},
      {"address Cancel", 101, {{"action", "press"}, {"dialog", 101}, {"control", 2}}},
      {"address close box", 101, {{"action", "close"}, {"dialog", 101}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedWizard wizard;
    if (c.dialog == 101) {
      walk_to_address_screen(wizard);
    } else {
      wizard.send(start_line);
      wizard.expect_open(141);
      wizard.send({{"action", "press"}, {"dialog", 141}, {"control", 1028}});
      wizard.expect_open(139);
    }
    wizard.send(c.gesture);
    EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
    EXPECT_EQ(wizard.wait_exit(), 0);
    for (const json& e : wizard.events()) EXPECT_NE(e["event"], "message");
  }
}

TEST(FirstScreens, MalformedLinesGetAnErrorAndChangeNothing) {
  ScriptedWizard wizard;
  wizard.send({{"action", "press"}, {"window", 1}, {"control", 1028}});  // before start
  EXPECT_EQ(wizard.expect_event("error")["event"], "error");
  wizard.send(start_line);
  const json welcome = wizard.expect_open(141);
  const std::string bad[] = {
      "{not json",
      "[1,2,3]",
      "{\"action\":42}",
      "{\"action\":\"fly\",\"window\":1}",
      "{\"action\":\"start\"}",  // a second start
      "{\"action\":\"press\",\"window\":999,\"control\":1}",
      "{\"action\":\"press\",\"window\":1,\"control\":4242}",
      "{\"action\":\"press\",\"window\":1,\"control\":1031}",  // text box, not a button
      "{\"action\":\"press\",\"window\":\"1\",\"control\":1028}",
      "{\"action\":\"press\",\"dialog\":168,\"control\":1}",
      "{\"action\":\"type\",\"window\":1,\"control\":1031,\"text\":\"x\"}",
      "{\"action\":\"type\",\"window\":1,\"control\":1031}",
      "{\"action\":\"key\",\"window\":1,\"key\":\"space\"}",
      "{\"action\":\"select\",\"window\":1,\"control\":1028,\"index\":0}",
      "{\"action\":\"dismiss\",\"window\":1}",
      "{\"action\":\"advance_clock\",\"ms\":-5}",
      "\xff\xfe garbage bytes",
      std::string(200000, '{'),
  };
  for (const std::string& line : bad) {
    SCOPED_TRACE(line.substr(0, 60));
    wizard.send_raw(line);
    EXPECT_EQ(wizard.expect_event("error")["event"], "error");
  }
  // The welcome screen is still there and still works.
  wizard.send({{"action", "press"}, {"window", welcome["window"]}, {"control", 1028}});
  EXPECT_EQ(wizard.expect_event("destroy")["result"], 1);
  wizard.expect_open(139);
}

TEST(FirstScreens, AnyTypedAddressTextIsHandledWithinItsField) {
  ScriptedWizard wizard;
  const json address = walk_to_address_screen(wizard);
  const json window = address["window"];
  const std::string texts[] = {
      "",         std::string(5000, '1'),          "1.2.3.4\xc3\xa9", "\xe2\x82\xac.1.2.3",
      "1.2.3.4 ", std::string(30, '.') + "1.2.3.4"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    wizard.send({{"action", "type"}, {"window", window}, {"control", 1000}, {"text", text}});
    wizard.send({{"action", "press"}, {"window", window}, {"control", 1}});
    const json message = wizard.expect_event("message");
    EXPECT_EQ(message["text"], "Invalid IP Address");
    wizard.send({{"action", "dismiss"}, {"window", message["window"]}});
    wizard.expect_event("focus");
  }
}

}  // namespace
}  // namespace vxt::test
