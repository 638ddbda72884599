// Recoveries end to end: the scripted wizard against simulated devices in recovery mode, in a
// private network namespace (tests/in_netns). The PC is 127.0.0.1; devices live on 127.0.0.2
// and up. Assertions go through the devices' wire records.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/netns_guard.h"
#include "recovery/recovery_test_peer.h"
#include "resources/firmware_image.h"
#include "sim/device.h"
#include "tests/scripted_wizard.h"

namespace vxt::test {
namespace {

using nlohmann::json;
using sim::WireEntry;
using sim::WireKind;
using test::RecoveryTestPeer;
using test::ScriptedReply;
using test::SeenRequest;

constexpr std::uint32_t pc = 0x7F000001;
constexpr std::uint32_t group = 0xEA04080A;
const json start_line = {
    {"action", "start"}, {"addresses", {"127.0.0.1"}}, {"screen", {{"w", 1024}, {"h", 768}}}};
const char* const not_found = "Recovery Failed: Cannot find the specified device!";

sim::DeviceConfig recovery_device(const std::string& address = "127.0.0.2") {
  sim::DeviceConfig config;
  config.address = address;
  config.start_in_recovery = true;
  config.restart_delay_ms = 200;
  config.identity.product_name = "VXT-200";
  config.identity.software_version = "0.9.0-broken";
  config.identity.hardware_version = "HW-1";
  config.identity.serial_number = "VX00AB12";
  return config;
}

std::unique_ptr<sim::Device> start_device(const sim::DeviceConfig& config) {
  auto device = std::make_unique<sim::Device>(config);
  std::string error;
  if (!device->start(&error)) {
    ADD_FAILURE() << "device " << config.address << ": " << error;
    return nullptr;
  }
  return device;
}

// The recovery datagrams a device saw, split by type.
std::vector<WireEntry> requests_of_type(const sim::Device& device, std::uint8_t type) {
  std::vector<WireEntry> out;
  for (const WireEntry& e : device.record(WireKind::recovery_request))
    if (!e.bytes.empty() && static_cast<std::uint8_t>(e.bytes[0]) == type) out.push_back(e);
  return out;
}

// Every recovery request came to the group from the PC's address and port 4811, whole, with
// the magic; the device refused nothing.
void expect_clean_recovery_traffic(const sim::Device& device) {
  for (const WireEntry& e : device.record(WireKind::recovery_request)) {
    EXPECT_EQ(e.from, (sim::WireEndpoint{pc, 4811})) << sim::describe(e);
    EXPECT_NE(e.from.address, 0u);
    EXPECT_EQ(e.to, (sim::WireEndpoint{group, 4810})) << sim::describe(e);
    EXPECT_EQ(e.bytes.size(), 160u);
    EXPECT_EQ(e.bytes.substr(4, 4), "RECM");
  }
  for (const WireEntry& v : device.violations()) ADD_FAILURE() << sim::describe(v);
}

std::string text_field(const std::string& bytes, std::size_t offset, std::size_t size) {
  const std::string field = bytes.substr(offset, size);
  return field.substr(0, field.find('\0'));
}

// From the start line to the open connecting window of the search.
json walk_to_search(ScriptedWizard& wizard, const std::string& typed_serial) {
  wizard.send(start_line);
  wizard.expect_open(141);
  wizard.send({{"action", "press"}, {"dialog", 141}, {"control", 1029}});
  const json entry = wizard.expect_open(142);
  wizard.send(
      {{"action", "type"}, {"window", entry["window"]}, {"control", 1027}, {"text", typed_serial}});
  wizard.send({{"action", "press"}, {"window", entry["window"]}, {"control", 1}});
  return wizard.expect_open(105);
}

// The message the wizard ends with, after which it exits with status 0.
void expect_ending_message(ScriptedWizard& wizard, const std::string& title,
                           const std::string& text) {
  const json m = wizard.expect_event("message");
  EXPECT_EQ(m["title"], title);
  EXPECT_EQ(m["text"], text);
  wizard.send({{"action", "dismiss"}, {"window", m["window"]}});
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
}

std::vector<json> events_named(const ScriptedWizard& wizard, const std::string& name) {
  std::vector<json> out;
  for (const json& e : wizard.events())
    if (e["event"] == name) out.push_back(e);
  return out;
}

std::vector<std::uint8_t> embedded_image() {
  return {vxt_firmware_image_data, vxt_firmware_image_data + vxt_firmware_image_size};
}

// Confirm screen accepted: the waiting window, the transfer, the settle wait (fast-forwarded
// once every flashed device is back), the check and the success window, OK, exit status 0.
// Returns the success window's open event.
json upgrade_from_confirm_screen(ScriptedWizard& wizard, const std::string& label,
                                 const std::vector<sim::Device*>& devices,
                                 const std::function<void()>& before_fast_forward = {}) {
  wizard.send({{"action", "press"}, {"dialog", 103}, {"control", 1}});
  wizard.expect_open(114);
  wizard.expect_open(110, 60);
  wizard.expect(
      [&](const json& e) {
        return e["event"] == "caption" && e["text"] == "Updating Firmware to VXT@" + label;
      },
      "the settle wait's caption", 60);
  for (sim::Device* d : devices) {
    EXPECT_TRUE(d->wait_until(
        [](const sim::DeviceStatus& s) {
          return s.counters.restarts >= 1 && s.state == sim::DeviceState::serving;
        },
        std::chrono::seconds(30)))
        << "the device did not store the image and come back";
  }
  if (before_fast_forward) before_fast_forward();
  wizard.send({{"action", "advance_clock"}, {"ms", 50000}});
  const json success = wizard.expect_open(111, 60);
  EXPECT_EQ(success["caption"], "VXT@" + label + " Upgrade Successful!");
  wizard.send({{"action", "press"}, {"window", success["window"]}, {"control", 1}});
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
  return success;
}

// The device got the image byte for byte over TFTP, every DATA addressed to the group from
// the port the start request named, and was checked over HTTP at the address it fetched from.
void expect_recovered(const sim::Device& device, const std::string& start_request) {
  EXPECT_EQ(device.received_image(), embedded_image());
  const std::uint16_t port =
      static_cast<std::uint16_t>(static_cast<std::uint8_t>(start_request[28]) << 8 |
                                 static_cast<std::uint8_t>(start_request[29]));
  EXPECT_GE(port, 69);
  EXPECT_LE(port, 168);
  const std::vector<WireEntry> reads = device.record(WireKind::tftp_read_request);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].to, (sim::WireEndpoint{group, port}));
  EXPECT_EQ(reads[0].bytes.substr(2, reads[0].bytes.find('\0', 2) - 2),
            text_field(start_request, 32, 128));
  const std::vector<WireEntry> data = device.record(WireKind::tftp_data);
  ASSERT_FALSE(data.empty());
  std::size_t bad = 0;
  for (const WireEntry& d : data)
    if (d.to != sim::WireEndpoint{group, d.to.port} || d.from != sim::WireEndpoint{pc, port}) ++bad;
  EXPECT_EQ(bad, 0u) << "DATA not from the listener's port or not to the group";
  const std::vector<WireEntry> checks = device.record(WireKind::http_request);
  ASSERT_EQ(checks.size(), 1u) << "the only HTTP request of a recovery is the final check";
  EXPECT_EQ(checks[0].to.address, reads[0].from.address);
  EXPECT_EQ(checks[0].from.address, pc);
  EXPECT_EQ(checks[0].bytes.rfind("GET /admin/advanced ", 0), 0u);
  EXPECT_EQ(checks[0].status, 200);
}

class RecoveryE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
  }
};

TEST_F(RecoveryE2E, ADeviceThatAnswersAtOnceIsRecovered) {
  auto device = start_device(recovery_device());
  ASSERT_TRUE(device);
  ScriptedWizard wizard;
  const json search = walk_to_search(wizard, "VX00AB12");
  EXPECT_EQ(search["caption"], "Connecting with VXT@VX00AB12");

  const json confirm = wizard.expect_open(103);
  EXPECT_EQ(control_text(confirm, 1002), "VX00AB12");
  EXPECT_EQ(control_text(confirm, 1003), "001A2B3C4D5E");
  EXPECT_EQ(control_text(confirm, 1004), "0.9.0-broken");
  EXPECT_EQ(control_text(confirm, 1005), "HW-1");
  EXPECT_EQ(control_text(confirm, 1006), "VXT-200");
  const json success = upgrade_from_confirm_screen(wizard, "VX00AB12", {device.get()});
  EXPECT_EQ(control_text(success, 1004), "3.1.8-standin");

  const std::vector<WireEntry> searches = requests_of_type(*device, 0);
  ASSERT_EQ(searches.size(), 1u);
  EXPECT_EQ(text_field(searches[0].bytes, 8, 20), "VX00AB12");
  const std::vector<WireEntry> starts = requests_of_type(*device, 2);
  ASSERT_EQ(starts.size(), 1u) << "the device answered the start request";
  EXPECT_EQ(text_field(starts[0].bytes, 8, 20), "VX00AB12");
  EXPECT_EQ(text_field(starts[0].bytes, 32, 128).rfind("/vxt", 0), 0u);
  expect_clean_recovery_traffic(*device);
  expect_recovered(*device, starts[0].bytes);
}

TEST_F(RecoveryE2E, ADeviceThatNeverAnswersStartRequestsGetsFiveAndIsStillRecovered) {
  sim::DeviceConfig config = recovery_device();
  config.recovery.answer_start_requests = false;
  auto device = start_device(config);
  ASSERT_TRUE(device);
  // The device leaves its recovery loader once it fetches; a listener of the test's own on the
  // group sees the copies that follow.
  RecoveryTestPeer observer([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(observer.ok()) << observer.error();
  ScriptedWizard wizard;
  walk_to_search(wizard, "VX00AB12");
  wizard.expect_open(103);
  // The settle wait lasts until the clock is moved on, so the main thread's resends go on
  // beside the transfer until all five have gone out.
  upgrade_from_confirm_screen(wizard, "VX00AB12", {device.get()},
                              [&] { EXPECT_TRUE(observer.wait_for_requests(6)); });
  const std::vector<SeenRequest> seen = observer.seen();
  ASSERT_EQ(seen.size(), 6u) << "one search and five start requests";
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].bytes, seen[1].bytes);
    EXPECT_EQ(seen[i].bytes[0], 2);
    EXPECT_EQ(seen[i].source_address, pc);
    EXPECT_EQ(seen[i].source_port, 4811);
    EXPECT_EQ(seen[i].destination_address, group);
  }
  const std::vector<WireEntry> starts = requests_of_type(*device, 2);
  ASSERT_GE(starts.size(), 1u);
  EXPECT_EQ(starts[0].data(), seen[1].bytes);
  expect_clean_recovery_traffic(*device);
  expect_recovered(*device, starts[0].bytes);
}

TEST_F(RecoveryE2E, WithTwoDevicesTheFirstReplyWinsAndTheSecondAnswersTheStartExchange) {
  // Both answer the search and neither answers start requests, so a start exchange that ends
  // after one send was answered by the search reply left queued.
  sim::DeviceConfig first = recovery_device("127.0.0.2");
  sim::DeviceConfig second = recovery_device("127.0.0.3");
  second.identity.product_name = "VXT-300";
  for (sim::DeviceConfig* c : {&first, &second}) c->recovery.answer_start_requests = false;
  auto a = start_device(first);
  auto b = start_device(second);
  ASSERT_TRUE(a && b);
  RecoveryTestPeer observer([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(observer.ok()) << observer.error();
  ScriptedWizard wizard;
  walk_to_search(wizard, "VX00AB12");
  const json confirm = wizard.expect_open(103);
  const std::string shown = control_text(confirm, 1006);
  EXPECT_TRUE(shown == "VXT-200" || shown == "VXT-300") << shown;

  // Both devices fetch; the listener serves the first read request only.
  wizard.send({{"action", "press"}, {"dialog", 103}, {"control", 1}});
  wizard.expect_open(114);
  wizard.expect_open(110, 60);
  wizard.expect(
      [&](const json& e) {
        return e["event"] == "caption" && e["text"] == "Updating Firmware to VXT@VX00AB12";
      },
      "the settle wait's caption", 60);
  sim::Device* flashed = nullptr;
  for (sim::Device* d : {a.get(), b.get()}) {
    if (d->wait_until([](const sim::DeviceStatus& s) { return s.counters.restarts >= 1; },
                      std::chrono::seconds(5)))
      flashed = d;
  }
  ASSERT_NE(flashed, nullptr);
  ASSERT_TRUE(flashed->wait_until(
      [](const sim::DeviceStatus& s) { return s.state == sim::DeviceState::serving; },
      std::chrono::seconds(30)));
  // An unanswered start request would go out again 2.5 s after the first; none does.
  EXPECT_FALSE(observer.wait_for_requests(3, 4.0));
  wizard.send({{"action", "advance_clock"}, {"ms", 50000}});
  const json success = wizard.expect_open(111, 60);
  wizard.send({{"action", "press"}, {"window", success["window"]}, {"control", 1}});
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);

  ASSERT_EQ(observer.seen().size(), 2u) << "one search, one start request";
  EXPECT_EQ(observer.seen()[1].bytes[0], 2);
  for (sim::Device* d : {a.get(), b.get()}) {
    EXPECT_EQ(requests_of_type(*d, 0).size(), 1u);
    EXPECT_EQ(requests_of_type(*d, 2).size(), 1u);
    expect_clean_recovery_traffic(*d);
  }
  expect_recovered(*flashed, requests_of_type(*flashed, 2)[0].bytes);
}

// Confirm screen cancelled: "Upgrade Failed: User Abort", no listener, exit status 0.
void cancel_confirm_screen(ScriptedWizard& wizard) {
  wizard.send({{"action", "press"}, {"dialog", 103}, {"control", 2}});
  expect_ending_message(wizard, "VXT Firwmare Upgrade Error", "Upgrade Failed: User Abort");
  for (const json& e : events_named(wizard, "open")) EXPECT_NE(e["dialog"], 114);
}

TEST_F(RecoveryE2E, TheSerialIsUsedInCapitalsCutTo19CharactersAndMayBeEmpty) {
  struct Case {
    const char* name;
    std::string typed;
    std::string serial;
  } cases[] = {
      {"small letters", "vx00ab12", "VX00AB12"},
      {"longer than 19 characters", "vx00ab12-extra-long-serial", "VX00AB12-EXTRA-LONG"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DeviceConfig config = recovery_device();
    config.recovery.match_any_serial = true;
    config.identity.serial_number = "DEVICE-OWN";
    auto device = start_device(config);
    ASSERT_TRUE(device);
    ScriptedWizard wizard;
    const json search = walk_to_search(wizard, c.typed);
    EXPECT_EQ(search["caption"], "Connecting with VXT@" + c.serial);
    const json confirm = wizard.expect_open(103);
    EXPECT_EQ(control_text(confirm, 1002), "DEVICE-OWN") << "the device's own serial number";
    EXPECT_EQ(control_text(confirm, 1003), "001A2B3C4D5E");
    cancel_confirm_screen(wizard);

    const std::vector<WireEntry> searches = requests_of_type(*device, 0);
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(text_field(searches[0].bytes, 8, 20), c.serial);
    EXPECT_EQ(searches[0].bytes.substr(8 + c.serial.size(), 20 - c.serial.size()),
              std::string(20 - c.serial.size(), '\0'));
    EXPECT_TRUE(requests_of_type(*device, 2).empty());
    expect_clean_recovery_traffic(*device);
  }
}

TEST_F(RecoveryE2E, WithoutA100ByteReplyFiveSearchesGoOutAndTheDeviceIsNotFound) {
  struct Case {
    const char* name;
    std::string device_serial;
    sim::RecoveryReplyFault fault;
  } cases[] = {
      {"no device with that serial", "SOMEONE-ELSE", sim::RecoveryReplyFault::none},
      {"replies of 99 bytes", "VX00AB12", sim::RecoveryReplyFault::short_reply},
      {"replies of 101 bytes", "VX00AB12", sim::RecoveryReplyFault::long_reply},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DeviceConfig config = recovery_device();
    config.identity.serial_number = c.device_serial;
    config.recovery.reply_fault = c.fault;
    auto device = start_device(config);
    ASSERT_TRUE(device);
    ScriptedWizard wizard;
    walk_to_search(wizard, "VX00AB12");
    const json m = wizard.expect_event("message");
    EXPECT_EQ(m["title"], "VXT Firwmare Upgrade Error");
    EXPECT_EQ(m["text"], not_found);
    EXPECT_EQ(m["task_modal"], true);
    wizard.send({{"action", "dismiss"}, {"window", m["window"]}});
    EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
    EXPECT_EQ(wizard.wait_exit(), 0);
    EXPECT_EQ(requests_of_type(*device, 0).size(), 5u);
    if (c.fault != sim::RecoveryReplyFault::none) {
      EXPECT_EQ(device->record(WireKind::recovery_reply).size(), 5u);
    }
    for (const json& e : events_named(wizard, "open")) EXPECT_NE(e["dialog"], 103);
    expect_clean_recovery_traffic(*device);
  }
}

TEST_F(RecoveryE2E, ADeviceThatAnswersOnlyTheFifthSearchIsFound) {
  // A listener of the test's own counts the searches; the device starts after the fourth.
  RecoveryTestPeer counter([](int, const SeenRequest&) { return std::vector<ScriptedReply>{}; });
  ASSERT_TRUE(counter.ok()) << counter.error();
  ScriptedWizard wizard;
  walk_to_search(wizard, "VX00AB12");
  ASSERT_TRUE(counter.wait_for_requests(4));
  auto device = start_device(recovery_device());
  ASSERT_TRUE(device);
  const json confirm = wizard.expect_open(103);
  EXPECT_EQ(control_text(confirm, 1006), "VXT-200");
  cancel_confirm_screen(wizard);
  EXPECT_EQ(counter.seen().size(), 5u);
  EXPECT_EQ(requests_of_type(*device, 0).size(), 1u);
  expect_clean_recovery_traffic(*device);
}

TEST_F(RecoveryE2E, CancelDuringTheSearchReportsTheDeviceNotFound) {
  sim::DeviceConfig config = recovery_device();
  config.recovery.reply_fault = sim::RecoveryReplyFault::silent;
  auto device = start_device(config);
  ASSERT_TRUE(device);
  ScriptedWizard wizard;
  const json search = walk_to_search(wizard, "VX00AB12");
  ASSERT_TRUE(device->wait_for_record([](const std::vector<WireEntry>& r) { return !r.empty(); },
                                      std::chrono::seconds(30)));
  wizard.send({{"action", "press"}, {"window", search["window"]}, {"control", 2}});
  expect_ending_message(wizard, "VXT Firwmare Upgrade Error", not_found);
  expect_clean_recovery_traffic(*device);
}

TEST_F(RecoveryE2E, AReplyNamingAddressZeroEndsSilentlyBeforeTheConfirmScreen) {
  sim::DeviceConfig config = recovery_device();
  config.recovery.reply_fault = sim::RecoveryReplyFault::zero_address;
  auto device = start_device(config);
  ASSERT_TRUE(device);
  ScriptedWizard wizard;
  walk_to_search(wizard, "VX00AB12");
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
  EXPECT_TRUE(events_named(wizard, "message").empty());
  for (const json& e : events_named(wizard, "open")) EXPECT_NE(e["dialog"], 103);
  EXPECT_EQ(requests_of_type(*device, 0).size(), 1u);
  expect_clean_recovery_traffic(*device);
}

}  // namespace
}  // namespace vxt::test
