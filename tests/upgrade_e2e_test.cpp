// Whole upgrades through the scripted wizard against the strict simulated device, in a private
// network namespace (tests/in_netns): the PC on 127.0.0.1, the device on 127.0.0.2. The
// ~50 s wait after the upload is fast-forwarded with advance_clock once the device is back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/netns_guard.h"
#include "sim/device.h"
#include "tests/scripted_wizard.h"

namespace vxt::test {
namespace {

using nlohmann::json;
using sim::WireEntry;
using sim::WireKind;

constexpr std::uint32_t pc = 0x7F000001;  // 127.0.0.1
constexpr std::uint32_t image_size = 761368;
constexpr const char* failure_title = "VXT Firwmare Upgrade Error";

std::vector<std::uint8_t> embedded_image() {
  std::ifstream in(VXT_EMBEDDED_IMAGE, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Walk {
  std::vector<std::string> addresses = {"127.0.0.1"};
  int chosen = 0;
  std::string password;  // typed when the password window opens
  std::optional<std::uint32_t> clock;
};

sim::DeviceConfig device_config() {
  sim::DeviceConfig config;
  config.restart_delay_ms = 200;
  config.tftp.retries = 100;  // a device that keeps listening while the PC retransmits
  return config;
}

class Upgrade : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!in_private_network_namespace()) GTEST_SKIP() << "run through tests/in_netns";
  }
  void TearDown() override {
    if (device_) device_->stop();
  }

  void start_device(const sim::DeviceConfig& config) {
    if (device_) device_->stop();
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->start(&error)) << error;
  }

  // From the start line to the press of "Upgrade" on the confirm screen.
  void walk_to_upgrade(ScriptedWizard& w, const Walk& walk) {
    json start = {
        {"action", "start"}, {"addresses", walk.addresses}, {"screen", {{"w", 1024}, {"h", 768}}}};
    if (walk.clock) start["clock"] = *walk.clock;
    w.send(start);
    w.expect_open(141);
    w.send({{"action", "press"}, {"dialog", 141}, {"control", 1028}});
    w.expect_open(139);
    w.send({{"action", "press"}, {"dialog", 139}, {"control", 1}});
    w.expect_open(101);
    w.send({{"action", "select"}, {"dialog", 101}, {"control", 1017}, {"index", walk.chosen}});
    w.send({{"action", "type"}, {"dialog", 101}, {"control", 1000}, {"text", "127.0.0.2"}});
    w.send({{"action", "press"}, {"dialog", 101}, {"control", 1}});
    if (!walk.password.empty()) {
      w.expect_open(104);
      w.send({{"action", "type"}, {"dialog", 104}, {"control", 1005}, {"text", walk.password}});
      w.send({{"action", "press"}, {"dialog", 104}, {"control", 1}});
    }
    w.expect_open(103);
    w.send({{"action", "press"}, {"dialog", 103}, {"control", 1}});
  }

  // Waits for the settle wait to begin, for the device to be back, then lets the clock jump.
  void fast_forward_settle_wait(ScriptedWizard& w, bool device_returns = true) {
    const json settling = w.expect(
        [](const json& e) {
          return e["event"] == "caption" &&
                 e["text"].get<std::string>().rfind("Updating Firmware to VXT@", 0) == 0;
        },
        "the settle wait's caption", 60);
    EXPECT_EQ(settling["text"], "Updating Firmware to VXT@127.0.0.2");
    if (device_returns) {
      ASSERT_TRUE(device_->wait_until(
          [](const sim::DeviceStatus& s) {
            return s.counters.restarts >= 1 && s.state == sim::DeviceState::serving;
          },
          std::chrono::seconds(30)));
    }
    w.send({{"action", "advance_clock"}, {"ms", 50000}});
  }

  // The failure message, dismissed, then exit status 0.
  void expect_failure(ScriptedWizard& w, const std::string& text, double seconds = 60) {
    const json m = w.expect_event("message", seconds);
    EXPECT_EQ(m["title"], failure_title);
    EXPECT_EQ(m["text"], text);
    EXPECT_EQ(m["task_modal"], true);
    w.send({{"action", "dismiss"}, {"window", m["window"]}});
    EXPECT_EQ(w.expect_event("exit")["status"], 0);
    EXPECT_EQ(w.wait_exit(), 0);
  }

  // Window 111, its texts, OK, exit status 0.
  void expect_success(ScriptedWizard& w) {
    const json success = w.expect_open(111, 60);
    EXPECT_EQ(success["caption"], "VXT@127.0.0.2 Upgrade Successful!");
    EXPECT_EQ(control_text(success, 1004), "3.1.8-standin");
    EXPECT_EQ(control_text(success, 1007),
              "Your VXT has been successfully\r\nupgraded to the version shown\r\nbelow.");
    w.send({{"action", "press"}, {"window", success["window"]}, {"control", 1}});
    EXPECT_EQ(w.expect_event("exit")["status"], 0);
    EXPECT_EQ(w.wait_exit(), 0);
  }

  std::vector<WireEntry> record(WireKind kind) const { return device_->record(kind); }

  // The file name of the device's last read request.
  std::string requested_name() const {
    const auto requests = device_->record(WireKind::tftp_read_request);
    if (requests.empty()) return "<none>";
    const std::string& b = requests.back().bytes;
    return b.size() > 2 ? std::string(b.c_str() + 2) : "";
  }

  // Checks what the device received over TFTP: the option acknowledgement, every block once,
  // everything from `server`.
  void expect_clean_transfer(const sim::WireEndpoint& server) {
    const auto oack = record(WireKind::tftp_option_ack);
    ASSERT_EQ(oack.size(), 1u);
    EXPECT_EQ(oack[0].bytes, std::string("\0\6tsize\0"
                                         "761368\0timeout\0"
                                         "5\0",
                                         25));
    EXPECT_EQ(oack[0].from, server);
    const auto data = record(WireKind::tftp_data);
    ASSERT_EQ(data.size(), 1488u);
    for (std::size_t i = 0; i < data.size(); ++i) {
      EXPECT_EQ(data[i].block, i + 1);
      EXPECT_EQ(data[i].length, i + 1 < data.size() ? 512u : 24u);
      EXPECT_EQ(data[i].from, server) << "block " << i + 1;
    }
    EXPECT_EQ(device_->received_image(), embedded_image());
    EXPECT_TRUE(device_->violations().empty()) << sim::describe(device_->violations().front());
  }

  std::unique_ptr<sim::Device> device_;
};

TEST_F(Upgrade, AWorkingDeviceIsUpgradedEndToEnd) {
  struct Case {
    const char* what;
    std::string password;
    bool hold_command_connection;
  } cases[] = {{"no password", "", false},
               {"with a password", "admin", false},
               {"the device holds the command's connection open", "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.auth.password = c.password;
    config.web_faults.hold_upgrade_connection = c.hold_command_connection;
    start_device(config);
    ScriptedWizard w;
    Walk walk;
    walk.password = c.password;
    walk_to_upgrade(w, walk);

    const json waiting = w.expect_open(114);
    EXPECT_EQ(waiting["caption"], "Waiting For Firmware Download Request From VXT");
    const json instructions =
        w.expect([](const json& e) { return e["event"] == "text" && e["control"] == 1032; },
                 "the waiting window's instructions");
    EXPECT_EQ(instructions["text"],
              "Firmware upload will begin when the VXT is idle, where the VXT will request to "
              "download the firmware from this PC using TFTP at the first available UDP port "
              "starting at port number 69.\r\n\r\nIf firmware download does not start, please "
              "check that you have done the following: a) Hangup properly all the phones "
              "attached to the VXT, b) Disable any firewall software (such as Internet "
              "Connection Firewall) on this PC, and c) Make sure that this PC and the VXT are "
              "on the same LAN subnet; it will not work for example if this PC is behind a "
              "router while the VXT is in front of it.");
    const json uploading = w.expect_open(110, 60);
    EXPECT_EQ(uploading["caption"], "Uploading Firmware To VXT");
    fast_forward_settle_wait(w);
    expect_success(w);

    // The command names the PC's address, the listener's port and the requested file.
    const std::vector<std::string> heads = device_->http_request_heads();
    std::string command;
    for (const std::string& h : heads)
      if (h.rfind("GET /admin/upgrade?", 0) == 0) command = h;
    const std::string name = requested_name();
    EXPECT_TRUE(std::regex_match(name, std::regex("/vxt[0-9a-f]+\\.bin"))) << name;
    EXPECT_EQ(command.substr(0, command.find("\r\n")),
              "GET /admin/upgrade?tftp://127.0.0.1:69" + name + " HTTP/1.1");
    expect_clean_transfer({pc, 69});
    EXPECT_TRUE(record(WireKind::tftp_retransmission).empty());

    // Captions as acknowledgements arrived: block 0 shows 0 bytes, the last the whole image.
    std::vector<std::string> captions;
    std::vector<json> settle_progress;
    for (const json& e : w.events()) {
      if (e["event"] == "caption" && e["window"] == uploading["window"])
        captions.push_back(e["text"]);
      if (e["event"] == "progress" && e["window"] == uploading["window"] && e["max"] == 1562)
        settle_progress.push_back(e);
    }
    ASSERT_EQ(captions.size(), 1490u);
    EXPECT_EQ(captions[0], "Uploading Firmware to VXT@127.0.0.2 0/761368 Bytes");
    EXPECT_EQ(captions[1], "Uploading Firmware to VXT@127.0.0.2 512/761368 Bytes");
    EXPECT_EQ(captions[1488], "Uploading Firmware to VXT@127.0.0.2 761368/761368 Bytes");
    // Progress lines a slow driver has not read yet are replaced by newer ones, so only the
    // range, a start short of its end and the end are sure to be seen.
    ASSERT_FALSE(settle_progress.empty());
    EXPECT_EQ(settle_progress.front()["min"], 0);
    EXPECT_LT(settle_progress.front()["pos"].get<int>(), 1562);
    EXPECT_GE(settle_progress.back()["pos"].get<int>(), 1562);
  }
}

TEST_F(Upgrade, TheSecondPcAddressChosenCarriesTheCommandAndEveryPacket) {
  start_device(device_config());
  ScriptedWizard w;
  Walk walk;
  walk.addresses = {"127.0.0.1", "127.0.0.3"};
  walk.chosen = 1;
  walk_to_upgrade(w, walk);
  w.expect_open(110, 60);
  fast_forward_settle_wait(w);
  expect_success(w);
  for (const WireEntry& e : record(WireKind::http_request))
    EXPECT_EQ(e.from.address, 0x7F000003u) << "every request from the chosen address";
  const std::string command = device_->http_request_heads()[1];
  EXPECT_EQ(command.rfind("GET /admin/upgrade?tftp://127.0.0.3:69" + requested_name() + " ", 0), 0u)
      << command;
  expect_clean_transfer({0x7F000003, 69});
}

TEST_F(Upgrade, WithPort69TakenTheListenerAndTheCommandUse70) {
  const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(69);
  at.sin_addr.s_addr = htonl(pc);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  start_device(device_config());
  ScriptedWizard w;
  walk_to_upgrade(w, Walk{});
  w.expect_open(110, 60);
  fast_forward_settle_wait(w);
  expect_success(w);
  EXPECT_EQ(device_->http_request_heads()[1].rfind(
                "GET /admin/upgrade?tftp://127.0.0.1:70" + requested_name() + " ", 0),
            0u);
  expect_clean_transfer({pc, 70});
  ::close(taken);
}

TEST_F(Upgrade, AcknowledgementFaultsTheTransferRidesOut) {
  struct Case {
    const char* what;
    std::map<std::uint32_t, sim::AckFault> faults;
    std::vector<std::uint16_t> retransmitted;  // blocks the device saw twice
  } cases[] = {
      {"duplicated and stale acknowledgements are drained",
       {{0, sim::AckFault::duplicate},
        {5, sim::AckFault::duplicate},
        {9, sim::AckFault::stale},
        {1488, sim::AckFault::stale}},
       {}},
      {"an acknowledgement from another port is ignored", {{7, sim::AckFault::foreign_port}}, {7}},
      {"a lost acknowledgement", {{1000, sim::AckFault::lose}}, {1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.tftp.ack_faults = c.faults;
    start_device(config);
    ScriptedWizard w;
    walk_to_upgrade(w, Walk{});
    w.expect_open(110, 60);
    fast_forward_settle_wait(w);
    expect_success(w);
    EXPECT_EQ(device_->received_image(), embedded_image());
    std::vector<std::uint16_t> again;
    for (const WireEntry& e : record(WireKind::tftp_retransmission)) again.push_back(e.block);
    EXPECT_EQ(again, c.retransmitted);
    EXPECT_TRUE(device_->violations().empty());
  }
}

TEST_F(Upgrade, ADeviceThatStopsAcknowledgingGetsEachPacket30TimesThenTheUploadFails) {
  struct Case {
    const char* what;
    std::uint32_t block;
    sim::AckFault fault;
  } cases[] = {{"silent from the option acknowledgement", 0, sim::AckFault::stop},
               {"silent from block 10", 10, sim::AckFault::stop},
               {"an ERROR packet instead of an acknowledgement", 3, sim::AckFault::error}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.tftp.ack_faults = {{c.block, c.fault}};
    start_device(config);
    ScriptedWizard w;
    walk_to_upgrade(w, Walk{});
    w.expect_open(110, 60);
    fast_forward_settle_wait(w, false);
    expect_failure(w, "Upgrade Failed: Firmware Upload Incomplete");
    if (c.fault == sim::AckFault::stop) {
      int copies = 0;
      for (const WireEntry& e :
           record(c.block == 0 ? WireKind::tftp_option_ack : WireKind::tftp_data))
        if (e.block == c.block) ++copies;
      for (const WireEntry& e : record(WireKind::tftp_retransmission))
        if (e.block == c.block) ++copies;
      EXPECT_EQ(copies, 30);
    }
  }
}

TEST_F(Upgrade, ADeviceThatComesBackSilentOrNotAtAll) {
  struct Case {
    const char* what;
    bool never_returns;
    const char* message;
  } cases[] = {
      {"answers without a byte", false, "Upgrade Failed: VXT not responding after firmware upload"},
      {"never comes back", true, "Upgrade Failed: Can't connect to VXT"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.never_returns = c.never_returns;
    start_device(config);
    ScriptedWizard w;
    walk_to_upgrade(w, Walk{});
    w.expect_open(110, 60);
    w.expect(
        [](const json& e) {
          return e["event"] == "caption" &&
                 e["text"].get<std::string>().rfind("Updating Firmware", 0) == 0;
        },
        "the settle wait", 60);
    ASSERT_TRUE(device_->wait_until(
        [](const sim::DeviceStatus& s) { return s.counters.transfers_completed >= 1; },
        std::chrono::seconds(30)));
    EXPECT_EQ(device_->received_image(), embedded_image());
    if (!c.never_returns) {
      // The restarted device accepts connections and closes them without an answer.
      sim::DeviceConfig silent = device_config();
      silent.web_faults.close_without_response = true;
      start_device(silent);
    }
    w.send({{"action", "advance_clock"}, {"ms", 50000}});
    expect_failure(w, c.message);
  }
}

TEST_F(Upgrade, ReadRequestVariants) {
  struct Case {
    const char* what;
    sim::ReadRequestConfig request;
  } cases[] = {
      {"another name first", {true, "octet", false, "/vxt0.bin", {}}},
      {"netascii", {true, "netascii", false, "", {}}},
      {"no options", {false, "octet", false, "", {}}},
      {"write request, DATA, acknowledgement and ERROR first",
       {true, "octet", false, "", {2, 3, 4, 5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.tftp.read_request = c.request;
    start_device(config);
    ScriptedWizard w;
    walk_to_upgrade(w, Walk{});
    w.expect_open(110, 60);
    fast_forward_settle_wait(w);
    expect_success(w);
    expect_clean_transfer({pc, 69});
  }
}

TEST_F(Upgrade, CancelEndsTheUpgradeWhileWaitingUploadingOrSettling) {
  struct Case {
    const char* what;
    int dialog;
    bool swap_name_case;
    bool during_settle;
  } cases[] = {
      {"window 114, the request in the wrong letter case ignored", 114, true, false},
      {"window 110 while the device is silent", 110, false, false},
      {"during the settle wait", 110, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.tftp.read_request.swap_name_case = c.swap_name_case;
    if (c.dialog == 110 && !c.during_settle) config.tftp.ack_faults = {{4, sim::AckFault::stop}};
    start_device(config);
    ScriptedWizard w;
    walk_to_upgrade(w, Walk{});
    const json window = w.expect_open(c.dialog, 60);
    if (c.swap_name_case) {
      ASSERT_TRUE(device_->wait_for_record(
          [](const std::vector<WireEntry>& r) {
            return !sim::entries_of(r, WireKind::tftp_read_request).empty();
          },
          std::chrono::seconds(30)));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_TRUE(record(WireKind::tftp_option_ack).empty()) << "no answer to the wrong case";
    }
    if (c.during_settle) {
      w.expect(
          [](const json& e) {
            return e["event"] == "caption" &&
                   e["text"].get<std::string>().rfind("Updating Firmware", 0) == 0;
          },
          "the settle wait", 60);
    }
    w.send({{"action", "press"}, {"window", window["window"]}, {"control", 2}});
    expect_failure(w, "Upgrade Failed: User Abort");
  }
}

TEST_F(Upgrade, TheClockWrappingDuringTheWaitChangesNothing) {
  start_device(device_config());
  ScriptedWizard w;
  Walk walk;
  walk.clock = 0xFFFFFFFFu - 20000;  // wraps when the wait is fast-forwarded
  walk_to_upgrade(w, walk);
  w.expect_open(110, 60);
  fast_forward_settle_wait(w);
  expect_success(w);
}

TEST_F(Upgrade, TheNonceKeptOrForgottenAcrossTheRestart) {
  struct Case {
    const char* what;
    bool kept;
  } cases[] = {{"kept: the check goes on with the next nc", true},
               {"forgotten: one silent retry under the new nonce", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceConfig config = device_config();
    config.auth.password = "admin";
    config.auth.keep_nonce_across_restart = c.kept;
    start_device(config);
    ScriptedWizard w;
    Walk walk;
    walk.password = "admin";
    walk_to_upgrade(w, walk);
    w.expect_open(110, 60);
    fast_forward_settle_wait(w);
    expect_success(w);
    int password_windows = 0;
    for (const json& e : w.events())
      if (e["event"] == "open" && e["dialog"] == 104) ++password_windows;
    EXPECT_EQ(password_windows, 1) << "the check never asks again";
    const std::vector<std::string> heads = device_->http_request_heads();
    // Refused, the page, the command, then the check (refused once when the nonce is gone).
    ASSERT_EQ(heads.size(), c.kept ? 4u : 5u);
    const auto nonce_of = [](const std::string& h) {
      std::smatch m;
      return std::regex_search(h, m, std::regex("nonce=\"([^\"]*)\"")) ? m[1].str() : "";
    };
    EXPECT_NE(heads[3].find(",nc=000000003,"), std::string::npos) << heads[3];
    EXPECT_EQ(nonce_of(heads[3]), nonce_of(heads[1]));
    if (!c.kept) {
      EXPECT_NE(heads[4].find(",nc=000000001,"), std::string::npos) << heads[4];
      EXPECT_NE(nonce_of(heads[4]), nonce_of(heads[3]));
    }
  }
}

TEST_F(Upgrade, AFloodOfJunkFromOtherPortsDoesNotSpoilTheTransfer) {
  start_device(device_config());
  ScriptedWizard w;
  walk_to_upgrade(w, Walk{});
  w.expect_open(110, 60);
  std::atomic<bool> done{false};
  std::thread junk([&] {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);
    ::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(69);
    to.sin_addr.s_addr = htonl(pc);
    unsigned char packet[1100] = {0, 4};
    const int sizes[] = {0, 1, 2, 3, 4, 1100};
    for (int i = 0; !done; ++i) {
      packet[2] = static_cast<unsigned char>(i >> 8);
      packet[3] = static_cast<unsigned char>(i);
      ::sendto(s, packet, sizes[i % 6], 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::close(s);
  });
  fast_forward_settle_wait(w);
  done = true;
  junk.join();
  expect_success(w);
  EXPECT_EQ(device_->received_image(), embedded_image());
  EXPECT_TRUE(device_->violations().empty());
}

}  // namespace
}  // namespace vxt::test
