// The scripted wizard reading the device's information page, against the simulated device in
// this private namespace (the binary runs under tests/in_netns): what the windows show, how the
// chain ends, and, through the device's wire record, the exact request heads that arrived.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/device.h"
#include "tests/canned_http_peer.h"
#include "tests/scripted_wizard.h"
#include "web/md5.h"

namespace vxt::test {
namespace {

using nlohmann::json;

constexpr const char* device_address = "127.0.0.2";
const std::string plain_head = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n";
const char* const help_text =
    "This VXT requires a password in order to be\r\nupgraded. If you do not have "
    "administrator's\r\nprivileges for this unit, please contact your\r\nService Provider or "
    "network administrator,\r\nbefore proceeding.\r\n\r\nYou must provide the VXT "
    "administrator's\r\npassword to upgrade. If you are the administrator\r\nand forgot the "
    "password, you may perform a\r\nfactory reset by entering # # # #, option 51946#,\r\nand "
    "value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n* * * * * * * * * "
    "* *  Warning  * * * * * * * * * * *\r\nAll settings will revert to default values\r\nafter "
    "factory reset!  You may not be able to\r\nreestablish service after completing this "
    "upgrade\r\nwithout first reentering service configuration\r\ninformation.";

sim::DeviceConfig device_config(const std::string& password = "") {
  sim::DeviceConfig config;
  config.address = device_address;
  config.auth.password = password;
  return config;
}

std::unique_ptr<sim::Device> start_device(const sim::DeviceConfig& config) {
  auto device = std::make_unique<sim::Device>(config);
  std::string error;
  EXPECT_TRUE(device->start(&error)) << error;
  return device;
}

// From start-up to the accepted address; the device-information request starts next. The
// whole of 127/8 is on loopback: tests that count local ports give the PC an address of their
// own, away from the connections other tests left behind.
void walk_to_request(ScriptedWizard& wizard, const char* pc_address = "127.0.0.1") {
  wizard.send(
      {{"action", "start"}, {"addresses", {pc_address}}, {"screen", {{"w", 1024}, {"h", 768}}}});
  wizard.send(
      {{"action", "press"}, {"window", wizard.expect_open(141)["window"]}, {"control", 1028}});
  wizard.send({{"action", "press"}, {"window", wizard.expect_open(139)["window"]}, {"control", 1}});
  const json address = wizard.expect_open(101);
  wizard.send({{"action", "type"},
               {"window", address["window"]},
               {"control", 1000},
               {"text", device_address}});
  wizard.send({{"action", "press"}, {"window", address["window"]}, {"control", 1}});
}

json next_window_or_message(ScriptedWizard& wizard) {
  return wizard.expect(
      [](const json& e) {
        return (e["event"] == "open" && e["dialog"] != 105) || e["event"] == "message" ||
               e["event"] == "exit";
      },
      "the next screen or message");
}

// Dismisses the failure and checks that the process then ends with status 0.
void expect_failure_and_exit(ScriptedWizard& wizard, const json& message, const char* text) {
  EXPECT_EQ(message["event"], "message");
  EXPECT_EQ(message["text"], text);
  EXPECT_EQ(message["title"], "VXT Firwmare Upgrade Error");
  EXPECT_EQ(message["task_modal"], true);
  EXPECT_TRUE(message["owner"].is_null());
  wizard.send({{"action", "dismiss"}, {"window", message["window"]}});
  EXPECT_EQ(wizard.expect_event("exit")["status"], 0);
  EXPECT_EQ(wizard.wait_exit(), 0);
}

void type_password_and_confirm(ScriptedWizard& wizard, const json& password_window,
                               const std::string& password) {
  wizard.send({{"action", "type"},
               {"window", password_window["window"]},
               {"control", 1005},
               {"text", password}});
  wizard.send({{"action", "press"}, {"window", password_window["window"]}, {"control", 1}});
}

int count_opens(const ScriptedWizard& wizard, int dialog) {
  int n = 0;
  for (const json& e : wizard.events())
    if (e["event"] == "open" && e["dialog"] == dialog) ++n;
  return n;
}

std::string quoted_parameter(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("," + name + "=\"");
  if (at == std::string::npos) return "<none>";
  const std::size_t begin = at + name.size() + 3;
  return head.substr(begin, head.find('"', begin) - begin);
}

// The head a request with credentials must carry, computed from first principles (RFC 2617
// with the nine-digit nonce count) with the nonce and client nonce that the head names.
struct Credentials {
  std::string password;
  std::string algorithm;  // as the challenge quoted it; "" for none
  std::string qop;        // as offered; "" for none
  std::string opaque;
  unsigned nc = 1;
};

std::string expected_head(const std::string& received, const Credentials& c) {
  const std::string nonce = quoted_parameter(received, "nonce");
  const std::string cnonce = quoted_parameter(received, "cnonce");
  std::string ha1 = md5_hex("admin:VXT:" + c.password);
  if (c.algorithm == "MD5-sess") {
    const Md5Digest raw =
        md5(("admin:VXT:" + c.password).data(), ("admin:VXT:" + c.password).size());
    ha1 = md5_hex(std::string(raw.begin(), raw.end()) + ":" + nonce + ":" + cnonce);
  }
  std::string a2 = "GET:/admin/advanced";
  if (c.qop == "auth-int") a2 += ":" + md5_hex("");
  char nc[16];
  std::snprintf(nc, sizeof nc, "%09x", c.nc);
  const std::string response =
      c.qop.empty()
          ? md5_hex(ha1 + ":" + nonce + ":" + md5_hex(a2))
          : md5_hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + c.qop + ":" + md5_hex(a2));
  std::string line = "Authorization: Digest username=\"admin\",realm=\"VXT\",nonce=\"" + nonce +
                     "\",uri=\"/admin/advanced\",algorithm=\"" + c.algorithm + "\",response=\"" +
                     response + "\"";
  if (!c.opaque.empty()) line += ",opaque=\"" + c.opaque + "\"";
  if (!c.qop.empty()) line += ",qop=" + c.qop + ",nc=" + nc + ",cnonce=\"" + cnonce + "\"";
  return "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n" + line + "\r\n\r\n";
}

void expect_client_nonce_shape(const std::string& head, bool with_qop) {
  const std::string cnonce = quoted_parameter(head, "cnonce");
  if (!with_qop) {
    EXPECT_EQ(cnonce, "<none>");
    return;
  }
  EXPECT_GE(cnonce.size(), 1u);
  EXPECT_LE(cnonce.size(), 4u);
  EXPECT_EQ(cnonce.find_first_not_of("0123456789abcdef"), std::string::npos) << cnonce;
  EXPECT_NE(cnonce[0], '0');
}

void expect_confirm_screen(const json& confirm, const std::vector<std::string>& fields) {
  ASSERT_EQ(confirm["dialog"], 103);
  EXPECT_EQ(confirm["caption"], "Confirm Upgrade to Ver. 3.1.8-standin");
  EXPECT_EQ(confirm["modal"], true);
  EXPECT_EQ(control_text(confirm, 1007),
            "The following information was extracted\r\nfrom your VXT. Please click "
            "\"Upgrade\"\r\nif you would like to proceed. If you would\r\nlike to quit click "
            "\"Cancel\".");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(control_text(confirm, 1002 + i), fields[i]) << 1002 + i;
}

const std::vector<std::string> simulated_fields = {"VX0001", "001A2B3C4D5E", "1.0.0", "HW-1",
                                                   "VXT-200"};

TEST(WebClient, DeviceWithoutPasswordOneAttemptThenCancelOnTheConfirmScreen) {
  auto device = start_device(device_config());
  ScriptedWizard wizard;
  walk_to_request(wizard);
  const json connecting = wizard.expect_open(105);
  EXPECT_EQ(connecting["caption"], "Connecting with VXT@127.0.0.2");
  EXPECT_EQ(connecting["modal"], false);
  EXPECT_EQ(connecting["x"], (1024 - connecting["w"].get<int>()) / 2);
  const json confirm = next_window_or_message(wizard);
  expect_confirm_screen(confirm, simulated_fields);
  EXPECT_EQ(count_opens(wizard, 104), 0);
  EXPECT_EQ(count_opens(wizard, 105), 1);

  wizard.send({{"action", "press"}, {"window", confirm["window"]}, {"control", 2}});
  expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
  EXPECT_EQ(device->http_request_heads(), std::vector<std::string>{plain_head});
  EXPECT_TRUE(device->violations().empty());
}

TEST(WebClient, PasswordForEveryQopAndAlgorithm) {
  struct Case {
    sim::DigestQop qop;
    sim::DigestAlgorithm algorithm;
    const char* qop_text;
    const char* algorithm_text;
    const char* opaque;
    bool quoted = true;  // false: the device writes algorithm=MD5, which the wizard ignores
  } cases[] = {
      {sim::DigestQop::auth, sim::DigestAlgorithm::md5, "auth", "", "", false},
      {sim::DigestQop::none, sim::DigestAlgorithm::none, "", "", ""},
      {sim::DigestQop::none, sim::DigestAlgorithm::md5, "", "MD5", ""},
      {sim::DigestQop::none, sim::DigestAlgorithm::md5, "", "MD5", "0pa/que"},
      {sim::DigestQop::auth, sim::DigestAlgorithm::none, "auth", "", ""},
      {sim::DigestQop::auth, sim::DigestAlgorithm::md5, "auth", "MD5", ""},
      {sim::DigestQop::auth, sim::DigestAlgorithm::md5, "auth", "MD5", "5ccc069c403ebaf9"},
      {sim::DigestQop::auth, sim::DigestAlgorithm::md5_sess, "auth", "MD5-sess", ""},
      {sim::DigestQop::auth_int, sim::DigestAlgorithm::none, "auth-int", "", "op"},
      {sim::DigestQop::auth_int, sim::DigestAlgorithm::md5, "auth-int", "MD5", ""},
      {sim::DigestQop::auth_int, sim::DigestAlgorithm::md5_sess, "auth-int", "MD5-sess", ""},
      {sim::DigestQop::auth_list, sim::DigestAlgorithm::md5, "auth,auth-int", "MD5", ""},
      {sim::DigestQop::auth_list, sim::DigestAlgorithm::md5_sess, "auth,auth-int", "MD5-sess",
       "op"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("qop ") + c.qop_text + ", algorithm " + c.algorithm_text +
                 ", opaque " + c.opaque);
    sim::DeviceConfig config = device_config("pa55 word");
    config.auth.qop = c.qop;
    config.auth.algorithm = c.algorithm;
    config.auth.opaque = c.opaque;
    config.auth.quote_algorithm = c.quoted;
    auto device = start_device(config);
    ScriptedWizard wizard;
    walk_to_request(wizard);
    const json password = next_window_or_message(wizard);
    ASSERT_EQ(password["dialog"], 104);
    EXPECT_EQ(password["caption"], "Enter Password Information");
    EXPECT_EQ(password["modal"], true);
    EXPECT_EQ(control_text(password, 1003), "admin");
    EXPECT_EQ(control_text(password, 1005), "");
    EXPECT_EQ(control_text(password, 1007), help_text);
    EXPECT_EQ(password["focus"], 1005);
    type_password_and_confirm(wizard, password, "pa55 word");

    const json confirm = next_window_or_message(wizard);
    expect_confirm_screen(confirm, simulated_fields);
    // Cancel here: "Upgrade" goes on to the transfer, which the upgrade tests follow.
    wizard.send({{"action", "press"}, {"window", confirm["window"]}, {"control", 2}});
    expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");

    const std::vector<std::string> heads = device->http_request_heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0], plain_head);
    EXPECT_EQ(heads[1],
              expected_head(heads[1], {"pa55 word", c.algorithm_text, c.qop_text, c.opaque, 1}));
    expect_client_nonce_shape(heads[1], c.qop_text[0] != '\0');
    EXPECT_TRUE(device->violations().empty());
    EXPECT_EQ(count_opens(wizard, 104), 1);
  }
}

// The session key hashes a client nonce that a header without qop does not carry, so no
// device can check it: the password window comes back.
TEST(WebClient, SessionAlgorithmWithoutQopBringsThePasswordWindowBack) {
  sim::DeviceConfig config = device_config("pw");
  config.auth.qop = sim::DigestQop::none;
  config.auth.algorithm = sim::DigestAlgorithm::md5_sess;
  auto device = start_device(config);
  ScriptedWizard wizard;
  walk_to_request(wizard);
  type_password_and_confirm(wizard, wizard.expect_open(104), "pw");
  const json again = next_window_or_message(wizard);
  ASSERT_EQ(again["dialog"], 104);
  // Everything but the response, which hashes the wizard's unsent client nonce.
  auto without_response = [](std::string head) {
    const std::size_t at = head.find(",response=\"");
    return at == std::string::npos ? head : head.erase(at + 11, 32);
  };
  const std::vector<std::string> heads = device->http_request_heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(without_response(heads[1]),
            without_response(expected_head(heads[1], {"pw", "MD5-sess", "", "", 1})));
  EXPECT_EQ(heads[1].find("cnonce"), std::string::npos);
  wizard.send({{"action", "press"}, {"window", again["window"]}, {"control", 2}});
  expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
}

TEST(WebClient, WrongPasswordBringsTheWindowBackAtOnce) {
  auto device = start_device(device_config("right"));
  ScriptedWizard wizard;
  walk_to_request(wizard);
  type_password_and_confirm(wizard, wizard.expect_open(104), "wrong");
  const json again = next_window_or_message(wizard);
  ASSERT_EQ(again["dialog"], 104);
  EXPECT_EQ(control_text(again, 1003), "admin");
  EXPECT_EQ(control_text(again, 1005), "");
  EXPECT_EQ(again["focus"], 1005);
  EXPECT_EQ(count_opens(wizard, 105), 2);  // no silent retry after the refusal
  type_password_and_confirm(wizard, again, "right");
  expect_confirm_screen(next_window_or_message(wizard), simulated_fields);

  const std::vector<std::string> heads = device->http_request_heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[0], plain_head);
  EXPECT_EQ(heads[1], expected_head(heads[1], {"wrong", "MD5", "auth", "", 1}));
  EXPECT_EQ(heads[2], expected_head(heads[2], {"right", "MD5", "auth", "", 2}));
  EXPECT_EQ(quoted_parameter(heads[1], "nonce"), quoted_parameter(heads[2], "nonce"));
  EXPECT_NE(quoted_parameter(heads[1], "cnonce"), "<none>");
}

// A restarted device has forgotten the nonce it gave: the refusal brings a new one, and the
// same credentials go once more under it without asking.
TEST(WebClient, StaleNonceIsRetriedOnceSilently) {
  const sim::DeviceConfig config = device_config("pw");
  auto device = start_device(config);
  ScriptedWizard wizard;
  walk_to_request(wizard);
  const json password = wizard.expect_open(104);
  device->stop();
  device = start_device(config);
  type_password_and_confirm(wizard, password, "pw");
  expect_confirm_screen(next_window_or_message(wizard), simulated_fields);
  EXPECT_EQ(count_opens(wizard, 104), 1);
  EXPECT_EQ(count_opens(wizard, 105), 3);

  const std::vector<std::string> heads = device->http_request_heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0], expected_head(heads[0], {"pw", "MD5", "auth", "", 1}));
  EXPECT_EQ(heads[1], expected_head(heads[1], {"pw", "MD5", "auth", "", 1}));
  EXPECT_NE(quoted_parameter(heads[0], "nonce"), quoted_parameter(heads[1], "nonce"));
  const std::vector<sim::WireEntry> requests = device->record(sim::WireKind::http_request);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].status, 401);
  EXPECT_EQ(requests[1].status, 200);
}

// The simulated device cannot renew its nonce twice in a row on demand; a canned peer does.
TEST(WebClient, SecondStaleNonceInARowOpensThePasswordWindow) {
  auto refusal = [](const std::string& nonce) {
    return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"VXT\",nonce=\"" + nonce +
           "\",qop=\"auth\",algorithm=\"MD5\",stale=true\r\nContent-Length: 0\r\n\r\n";
  };
  CannedHttpPeer peer(0x7f000002, 80, {refusal("A"), refusal("B"), refusal("C")});
  ASSERT_TRUE(peer.listening());
  ScriptedWizard wizard;
  walk_to_request(wizard);
  type_password_and_confirm(wizard, wizard.expect_open(104), "pw");
  const json again = next_window_or_message(wizard);
  ASSERT_EQ(again["dialog"], 104);
  const std::vector<std::string> heads = peer.heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[0], plain_head);
  EXPECT_EQ(quoted_parameter(heads[1], "nonce"), "A");
  EXPECT_EQ(quoted_parameter(heads[2], "nonce"), "B");
  EXPECT_NE(heads[2].find(",nc=000000001,"), std::string::npos);
  EXPECT_EQ(heads[2], expected_head(heads[2], {"pw", "MD5", "auth", "", 1}));
  wizard.send({{"action", "close"}, {"window", again["window"]}});
  expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
}

TEST(WebClient, EmptyPasswordSendsNoCredentialsThenCancel) {
  auto device = start_device(device_config("pw"));
  ScriptedWizard wizard;
  walk_to_request(wizard);
  type_password_and_confirm(wizard, wizard.expect_open(104), "");
  const json again = next_window_or_message(wizard);
  ASSERT_EQ(again["dialog"], 104);
  EXPECT_EQ(device->http_request_heads(), (std::vector<std::string>{plain_head, plain_head}));
  wizard.send({{"action", "press"}, {"window", again["window"]}, {"control", 2}});
  expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
}

// A device that holds the connection without answering: the connecting window keeps moving
// its bar (0 to 100, then from 0 again) and its Cancel ends the wizard. Output is paced, so a
// step that the next one overtook before it was written may be missing.
TEST(WebClient, HangingDeviceKeepsTheWindowAliveAndCancelEndsIt) {
  sim::DeviceConfig config = device_config();
  config.web_faults.no_answer = true;
  auto device = start_device(config);
  ScriptedWizard wizard;
  walk_to_request(wizard);
  const json connecting = wizard.expect_open(105);
  std::vector<int> positions;
  wizard.expect(
      [&](const json& e) {
        if (e["event"] != "progress" || e["window"] != connecting["window"]) return false;
        positions.push_back(e["pos"].get<int>());
        return positions.size() > 2 && positions.back() < positions[positions.size() - 2];
      },
      "the bar coming back to its start", 60);
  ASSERT_GE(positions.size(), 3u);
  for (std::size_t i = 1; i + 1 < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]);
  EXPECT_GE(positions[positions.size() - 2], 95) << "the bar turns back only at its end";
  EXPECT_LE(positions.back(), 5) << "and starts again from 0";
  wizard.send({{"action", "press"}, {"window", connecting["window"]}, {"control", 2}});
  const json gone = wizard.expect(
      [&](const json& e) { return e["event"] == "destroy" && e["window"] == connecting["window"]; },
      "the connecting window destroyed");
  EXPECT_FALSE(gone.is_null());
  expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
  EXPECT_EQ(device->http_request_heads(), std::vector<std::string>{plain_head});
}

// Binds the local TCP ports [first, last] on the PC address.
std::vector<int> hold_ports(std::uint32_t address, int first, int last) {
  std::vector<int> held;
  for (int port = first; port <= last; ++port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << port;
    held.push_back(s);
  }
  return held;
}

TEST(WebClient, ConnectionFailures) {
  struct Case {
    const char* name;
    bool device;
    int hold_last;  // local ports 23456..hold_last are taken; 0 for none
    const char* message;
  } cases[] = {
      {"no device listening", false, 0, "Upgrade Failed: Can't connect to VXT"},
      {"every local port taken", true, 23556, "Upgrade Failed: Can't bind HTTP socket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<sim::Device> device;
    if (c.device) device = start_device(device_config());
    const std::vector<int> held =
        c.hold_last ? hold_ports(0x7f00000b, 23456, c.hold_last) : std::vector<int>{};
    ScriptedWizard wizard;
    walk_to_request(wizard, "127.0.0.11");
    const json connecting = wizard.expect_open(105);
    const json message = next_window_or_message(wizard);
    // Reported from the worker while the connecting window is still up.
    for (const json& e : wizard.events()) {
      EXPECT_FALSE(e["event"] == "destroy" && e["window"] == connecting["window"]);
    }
    // The bar keeps moving while the message is up: the window stays responsive.
    EXPECT_FALSE(wizard
                     .expect(
                         [&](const json& e) {
                           return e["event"] == "progress" && e["window"] == connecting["window"];
                         },
                         "the connecting window's bar moving under the message")
                     .is_null());
    expect_failure_and_exit(wizard, message, c.message);
    if (device) {
      EXPECT_TRUE(device->http_request_heads().empty());
    }
    for (int s : held) ::close(s);
  }
}

TEST(WebClient, FirstFreeLocalPortIsUsed) {
  auto device = start_device(device_config());
  const std::vector<int> held = hold_ports(0x7f00000c, 23456, 23456);
  ScriptedWizard wizard;
  walk_to_request(wizard, "127.0.0.12");
  expect_confirm_screen(next_window_or_message(wizard), simulated_fields);
  const std::vector<sim::WireEntry> requests = device->record(sim::WireKind::http_request);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].from.port, 23457);
  EXPECT_EQ(requests[0].from.address, 0x7f00000cu);
  EXPECT_EQ(requests[0].bytes, plain_head);
  for (int s : held) ::close(s);
}

TEST(WebClient, DeviceThatClosesWithoutAnswering) {
  sim::DeviceConfig config = device_config();
  config.web_faults.close_without_response = true;
  auto device = start_device(config);
  ScriptedWizard wizard;
  walk_to_request(wizard);
  const json connecting = wizard.expect_open(105);
  const json message = next_window_or_message(wizard);
  bool destroyed_first = false;
  for (const json& e : wizard.events())
    if (e["event"] == "destroy" && e["window"] == connecting["window"]) destroyed_first = true;
  EXPECT_TRUE(destroyed_first);
  expect_failure_and_exit(wizard, message, "Upgrade Failed: No Response From VXT");
  EXPECT_EQ(device->http_request_heads(), std::vector<std::string>{plain_head});
}

// Any bytes that are not a challenge lead to the confirm screen, with whatever the page held.
TEST(WebClient, AnswersThatLeadToTheConfirmScreen) {
  const std::vector<std::string> empty(5, "");
  struct Case {
    const char* name;
    std::string password;
    sim::WebFaults faults;
    std::vector<std::string> fields;
  } cases[] = {
      {"a page over 131071 bytes", "", {}, simulated_fields},
      {"a 401 without a challenge", "pw", {}, empty},
      {"an HTTP/1.0 401 with a challenge", "pw", {}, empty},
      {"five empty fields", "", {}, empty},
      {"a value after an empty cell", "", {}, simulated_fields},
      {"a page without MAC Address:", "", {}, {"VX0001", "", "1.0.0", "HW-1", "VXT-200"}},
  };
  cases[0].faults.page_size = 140000;
  cases[1].faults.unauthorized_without_challenge = true;
  cases[2].faults.http10_status_line = true;
  cases[3].faults.page_variant = sim::PageVariant::no_labels;
  cases[4].faults.page_variant = sim::PageVariant::empty_cell_before_value;
  cases[5].faults.page_variant = sim::PageVariant::label_missing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DeviceConfig config = device_config(c.password);
    config.web_faults = c.faults;
    auto device = start_device(config);
    ScriptedWizard wizard;
    walk_to_request(wizard);
    const json confirm = next_window_or_message(wizard);
    expect_confirm_screen(confirm, c.fields);
    EXPECT_EQ(count_opens(wizard, 104), 0);
    EXPECT_EQ(device->http_request_heads(), std::vector<std::string>{plain_head});
    wizard.send({{"action", "key"}, {"window", confirm["window"]}, {"key", "escape"}});
    expect_failure_and_exit(wizard, wizard.expect_event("message"), "Upgrade Failed: User Abort");
  }
}

}  // namespace
}  // namespace vxt::test
