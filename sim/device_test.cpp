// The simulated device over real sockets, with small peers written here from the PC's side.
// Runs inside a private network namespace (tests/in_netns): it binds 127.0.0.x addresses and
// uses the recovery group.
#include "sim/device.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/udp_socket.h"
#include "web/md5.h"

namespace sim {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kPc = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t kDevice = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t kSecondDevice = 0x7F000003;
constexpr std::uint32_t kGroup = 0xEA04080A;  // 234.4.8.10

DeviceConfig base_config(const std::string& address = "127.0.0.2") {
  DeviceConfig config;
  config.address = address;
  config.web_port = 0;
  config.restart_delay_ms = 100;
  config.tftp.timeout_ms = 300;
  config.tftp.retries = 2;
  return config;
}

std::vector<std::uint8_t> make_image(std::size_t size, const std::string& version) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < size; ++i)
    image[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xff);
  if (size >= 128) {
    std::fill(image.begin() + 92, image.begin() + 128, 0);
    std::copy(version.begin(), version.end(), image.begin() + 92);
  }
  return image;
}

// One HTTP exchange as the wizard makes it: connect, send, read until the device closes.
// Returns nothing when the connection is refused.
std::optional<std::string> http_exchange(std::uint32_t address, std::uint16_t port,
                                         const std::string& request,
                                         bool leave_after_sending = false) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address);
  endpoint.sin_port = htons(port);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&endpoint), sizeof endpoint) != 0)
    return std::nullopt;
  ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
  if (leave_after_sending) ::shutdown(fd.get(), SHUT_WR);
  std::string response;
  char chunk[4096];
  pollfd polled{fd.get(), POLLIN, 0};
  while (::poll(&polled, 1, 5000) > 0) {
    const ssize_t got = ::recv(fd.get(), chunk, sizeof chunk, 0);
    if (got <= 0) break;
    response.append(chunk, static_cast<std::size_t>(got));
  }
  return response;
}

std::string get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n";
}

std::string labelled_value(const std::string& page, const std::string& label) {
  std::size_t at = page.find(label);
  if (at == std::string::npos || (at = page.find('>', at)) == std::string::npos) return "<missing>";
  ++at;
  while (at < page.size() && page[at] == '<' && (at = page.find('>', at)) != std::string::npos)
    ++at;
  return page.substr(at, page.find('<', at) - at);
}

std::string quoted_value(const std::string& text, const std::string& name) {
  const std::size_t at = text.find(name + "=\"");
  if (at == std::string::npos) return "";
  const std::size_t begin = at + name.size() + 2;
  return text.substr(begin, text.find('"', begin) - begin);
}

class Started {
 public:
  explicit Started(DeviceConfig config) : device(std::move(config)) {
    std::string error;
    ok = device.start(&error);
    EXPECT_TRUE(ok) << error;
  }
  Device device;
  bool ok = false;
};

// ---------------------------------------------------------------------------------------------
// Web server

TEST(SimDeviceWeb, RoutesRequestsAndSurvivesBadOnes) {
  Started sim(base_config());
  ASSERT_TRUE(sim.ok);
  const std::uint16_t port = sim.device.web_port();

  struct Case {
    std::string request;
    std::string status_line;
  };
  const Case cases[] = {
      {get("/admin/advanced"), "HTTP/1.1 200 OK"},
      {get("/index.html"), "HTTP/1.1 404 Not Found"},
      {"GET /admin/advanced\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /" + std::string(10000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {std::string("\0\0\0\0\r\n\r\n", 8), "HTTP/1.1 400 Bad Request"},
  };
  for (const Case& c : cases) {
    const auto response = http_exchange(kDevice, port, c.request);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->substr(0, c.status_line.size()), c.status_line) << c.request.substr(0, 40);
  }
  // A client that leaves before its request is complete costs nothing.
  EXPECT_EQ(http_exchange(kDevice, port, "GET /admin/adv", true), std::optional<std::string>(""));
  const auto page = http_exchange(kDevice, port, get("/admin/advanced"));
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(labelled_value(*page, "Software Version:"), "1.0.0");
  EXPECT_EQ(labelled_value(*page, "MAC Address:"), "001A2B3C4D5E");
  EXPECT_TRUE(sim.device.wait_until(
      [](const DeviceStatus& s) { return s.counters.http_requests == 6; }, 5s));
}

// The wizard's Digest exchange across requests: challenge, answer, a nonce gone stale, a wrong
// password.
TEST(SimDeviceWeb, DigestAcrossRequests) {
  DeviceConfig config = base_config();
  config.auth.password = "secret";
  config.auth.qop = DigestQop::auth;
  config.auth.nonce_max_uses = 1;  // stale between requests
  Started sim(config);
  ASSERT_TRUE(sim.ok);
  const std::uint16_t port = sim.device.web_port();

  const auto authorized = [](const std::string& nonce, const std::string& password,
                             const char* nc) {
    const std::string ha1 = vxt::md5_hex("admin:VXT:" + password);
    const std::string response = vxt::md5_hex(ha1 + ":" + nonce + ":" + nc +
                                              ":1f:auth:" + vxt::md5_hex("GET:/admin/advanced"));
    return "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\nAuthorization: Digest "
           "username=\"admin\","
           "realm=\"VXT\",nonce=\"" +
           nonce + "\",uri=\"/admin/advanced\",algorithm=\"MD5\",response=\"" + response +
           "\",qop=auth,nc=" + nc + ",cnonce=\"1f\"\r\n\r\n";
  };

  const auto challenge = http_exchange(kDevice, port, get("/admin/advanced"));
  ASSERT_TRUE(challenge.has_value());
  EXPECT_EQ(challenge->compare(0, 12, "HTTP/1.1 401"), 0);
  const std::string nonce = quoted_value(*challenge, "nonce");
  ASSERT_FALSE(nonce.empty());

  const auto page = http_exchange(kDevice, port, authorized(nonce, "secret", "000000001"));
  EXPECT_EQ(labelled_value(page.value_or(""), "Serial Number:"), "VX0001");

  const auto stale = http_exchange(kDevice, port, authorized(nonce, "secret", "000000002"));
  ASSERT_TRUE(stale.has_value());
  EXPECT_EQ(stale->compare(0, 12, "HTTP/1.1 401"), 0);
  const std::string fresh = quoted_value(*stale, "nonce");
  EXPECT_NE(fresh, nonce);
  EXPECT_NE(stale->find("stale=TRUE"), std::string::npos);

  const auto wrong = http_exchange(kDevice, port, authorized(fresh, "guess", "000000001"));
  ASSERT_TRUE(wrong.has_value());
  EXPECT_EQ(wrong->compare(0, 12, "HTTP/1.1 401"), 0);
  EXPECT_EQ(quoted_value(*wrong, "nonce"), fresh);
  EXPECT_EQ(wrong->find("stale=TRUE"), std::string::npos);

  const auto again = http_exchange(kDevice, port, authorized(fresh, "secret", "000000002"));
  EXPECT_EQ(again.value_or("").compare(0, 15, "HTTP/1.1 200 OK"), 0);
  EXPECT_TRUE(sim.device.wait_until(
      [](const DeviceStatus& s) { return s.counters.http_refused == 3; }, 5s));
}

TEST(SimDeviceWeb, ConnectionFaults) {
  DeviceConfig config = base_config();
  config.web_faults.close_without_response = true;
  {
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    EXPECT_EQ(http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced")),
              std::optional<std::string>(""));
  }
  config.web_faults.close_without_response = false;
  config.web_faults.page_size = 140000;
  {
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    const auto page = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
    ASSERT_TRUE(page.has_value());
    EXPECT_GT(page->size(), 131071u);
    EXPECT_EQ(labelled_value(*page, "Product Name:"), "VXT-200");
  }
  config.web_faults.page_size = 0;
  config.web_faults.no_answer = true;
  {
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = htonl(kDevice);
    endpoint.sin_port = htons(sim.device.web_port());
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&endpoint), sizeof endpoint), 0);
    const std::string request = get("/admin/advanced");
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.counters.http_requests == 1; }, 5s));
    sim.device.stop();  // the held connection ends with the device, without a byte
    char byte;
    EXPECT_EQ(::recv(fd.get(), &byte, 1, 0), 0);
  }
}

// The wizard's head and Digest line, written here from the wire form, with the deviations a
// looser client makes. The response is always computed right, so a tolerant device accepts
// every variant and only the form decides.
struct DigestForm {
  std::string comma = ",";
  bool quote_qop = false;
  bool upper_case_response = false;
  bool algorithm = true;
  std::string nc = "000000001";
};

std::string digest_line(const std::string& nonce, const std::string& cnonce,
                        const DigestForm& form = {}, const std::string& uri = "/admin/advanced") {
  const std::string ha1 = vxt::md5_hex("admin:VXT:secret");
  std::string response = vxt::md5_hex(ha1 + ":" + nonce + ":" + form.nc + ":" + cnonce +
                                      ":auth:" + vxt::md5_hex("GET:" + uri));
  if (form.upper_case_response) {
    for (char& c : response) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string& sep = form.comma;
  return "Authorization: Digest username=\"admin\"" + sep + "realm=\"VXT\"" + sep + "nonce=\"" +
         nonce + "\"" + sep + "uri=\"" + uri + "\"" +
         (form.algorithm ? sep + "algorithm=\"MD5\"" : "") + sep + "response=\"" + response + "\"" +
         sep + (form.quote_qop ? "qop=\"auth\"" : "qop=auth") + sep + "nc=" + form.nc + sep +
         "cnonce=\"" + cnonce + "\"\r\n";
}

TEST(SimDeviceStrict, WebRefusesWhatTheWizardNeverSendsAndRecordsIt) {
  const std::string line = "GET /admin/advanced HTTP/1.1\r\n";
  const std::string host = "Host: 192.168.1.1\r\n";
  struct Case {
    const char* what;
    bool guarded;  // the device asks for a password
    std::string head;
    DigestForm form;
    bool refused;  // by the strict device; the tolerant one serves every case
  };
  DigestForm blanks;
  blanks.comma = ", ";
  DigestForm quoted_qop;
  quoted_qop.quote_qop = true;
  DigestForm upper;
  upper.upper_case_response = true;
  DigestForm no_algorithm;
  no_algorithm.algorithm = false;
  DigestForm eight_digits;
  eight_digits.nc = "00000001";
  const Case cases[] = {
      {"the wizard's head", false, line + host + "\r\n", {}, false},
      {"no Host", false, line + "\r\n", {}, true},
      {"two Hosts", false, line + host + host + "\r\n", {}, true},
      {"a User-Agent", false, line + host + "User-Agent: t/1\r\n\r\n", {}, true},
      {"a Connection line", false, line + host + "Connection: close\r\n\r\n", {}, true},
      {"HTTP/1.0", false, "GET /admin/advanced HTTP/1.0\r\n" + host + "\r\n", {}, true},
      {"bare LF", false, "GET /admin/advanced HTTP/1.1\nHost: 192.168.1.1\n\n", {}, true},
      {"the wizard's Digest line", true, "", {}, false},
      {"blanks after commas", true, "", blanks, true},
      {"qop quoted", true, "", quoted_qop, true},
      {"upper-case hex", true, "", upper, true},
      {"no algorithm", true, "", no_algorithm, true},
      {"an eight-digit nc", true, "", eight_digits, true},
  };
  for (const bool strict : {true, false}) {
    for (const bool guarded : {false, true}) {
      DeviceConfig config = base_config();
      if (guarded) config.auth.password = "secret";
      if (!strict) config.lenient = Leniency::all();
      Started sim(config);
      ASSERT_TRUE(sim.ok);
      const std::uint16_t port = sim.device.web_port();
      std::string nonce;
      if (guarded) {
        const auto challenge = http_exchange(kDevice, port, line + host + "\r\n");
        nonce = quoted_value(challenge.value_or(""), "nonce");
        ASSERT_FALSE(nonce.empty());
      }
      int index = 0;
      for (const Case& c : cases) {
        if (c.guarded != guarded) continue;
        SCOPED_TRACE(std::string(c.what) + (strict ? " (strict)" : " (lenient)"));
        // A fresh client nonce per case, so each one counts from 1.
        const std::string head =
            guarded
                ? line + host + digest_line(nonce, "c" + std::to_string(++index), c.form) + "\r\n"
                : c.head;
        const std::size_t before = sim.device.record().size();
        const auto response = http_exchange(kDevice, port, head);
        const bool refused = strict && c.refused;
        EXPECT_EQ(response.value_or("").substr(0, 12), refused ? "HTTP/1.1 400" : "HTTP/1.1 200");
        ASSERT_TRUE(sim.device.wait_for_record(
            [&](const std::vector<WireEntry>& record) {
              return !entries_of({record.begin() + static_cast<long>(before), record.end()},
                                 WireKind::http_closed)
                          .empty();
            },
            5s));
        const auto record = sim.device.record();
        const std::vector<WireEntry> added(record.begin() + static_cast<long>(before),
                                           record.end());
        const auto requests = entries_of(added, WireKind::http_request);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].bytes, head) << "the raw head, byte for byte";
        EXPECT_EQ(requests[0].status, refused ? 400 : 200);
        EXPECT_EQ(requests[0].to, (WireEndpoint{kDevice, port}));
        const auto violations = entries_of(added, WireKind::violation);
        EXPECT_EQ(violations.size(), refused ? 1u : 0u);
        EXPECT_EQ(requests[0].rule.empty(), !refused);
        if (refused && !violations.empty()) {
          EXPECT_EQ(violations[0].rule, requests[0].rule);
        }
      }
    }
  }
}

// Each connection is served on its own: one the device holds does not stall the next, and the
// record shows both heads in the order they came.
TEST(SimDeviceWeb, AHeldConnectionStallsNothing) {
  DeviceConfig config = base_config();
  config.web_faults.no_answer = true;
  Started sim(config);
  ASSERT_TRUE(sim.ok);
  std::vector<UniqueFd> clients;
  for (const char* path : {"/admin/advanced", "/second"}) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = htonl(kDevice);
    endpoint.sin_port = htons(sim.device.web_port());
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&endpoint), sizeof endpoint), 0);
    const std::string request = get(path);
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    const auto count = clients.size() + 1;
    ASSERT_TRUE(sim.device.wait_until(
        [count](const DeviceStatus& s) { return s.counters.http_requests == count; }, 5s))
        << path << " was not read while an earlier connection is held";
    clients.push_back(std::move(fd));
  }
  EXPECT_EQ(sim.device.http_request_heads(),
            (std::vector<std::string>{get("/admin/advanced"), get("/second")}));
  EXPECT_TRUE(sim.device.record(WireKind::http_closed).empty());
}

// ---------------------------------------------------------------------------------------------
// A TFTP server written from the PC's side: it answers one read request from its own port,
// offers tsize and timeout, then sends 512-byte blocks stop-and-wait, taking acknowledgements
// only from the requester's address and port. It records what it sees.

struct ServerOptions {
  bool group_mode = false;  // any-bound and joined; every packet goes to the group
  bool send_oack = true;
  std::optional<std::uint64_t> announced_size;  // instead of the real size
  // Instead of tsize <size> then timeout 5; "<size>" stands for the image's size.
  std::optional<std::vector<std::pair<std::string, std::string>>> oack_options;
  bool no_wait = false;                 // send every block without waiting for acknowledgements
  bool fresh_port = false;              // answer from a new port, as tftpd-hpa does
  bool unicast_in_group_mode = false;   // in group mode, send to the requester's own address
  bool no_multicast_interface = false;  // in group mode: packets leave from 0.0.0.0
  int period_ms = 30;
  int max_periods = 30;
};

class TestTftpServer {
 public:
  TestTftpServer(std::vector<std::uint8_t> image, ServerOptions options)
      : image_(std::move(image)), options_(options) {
    std::string error;
    socket_ = open_udp_socket(options_.group_mode ? 0 : kPc, 0, false, &error);
    EXPECT_TRUE(socket_.valid()) << error;
    if (options_.group_mode) {
      EXPECT_TRUE(join_multicast_group(socket_.get(), kGroup, kPc, &error)) << error;
      if (!options_.no_multicast_interface) {
        EXPECT_TRUE(set_multicast_interface(socket_.get(), kPc, &error)) << error;
      }
    }
    port_ = local_port(socket_.get());
    thread_ = std::thread([this] { serve(); });
  }
  ~TestTftpServer() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

  std::uint16_t port() const { return port_; }
  // Read only after join().
  std::vector<std::string> events;  // "ack 3", "ack 3 foreign", "resend 3", "error 0"
  std::string requested_name;
  std::vector<std::string> request_strings;  // name, mode, options
  std::uint32_t requester_address = 0;
  std::uint16_t answer_port = 0;  // where the answers left from
  bool completed = false;

 private:
  void serve() {
    std::uint8_t buffer[1024];
    std::size_t which = 0;
    Signal never;
    std::uint16_t peer_port = 0;
    while (true) {
      if (wait_readable({socket_.get()}, never.fd(), 5000, &which) != WaitResult::ready) return;
      const auto datagram = receive_datagram(socket_.get(), buffer, sizeof buffer);
      if (!datagram || datagram->size < 4 || buffer[1] != 1) continue;
      requester_address = datagram->source_address;
      peer_port = datagram->source_port;
      std::string current;
      for (std::size_t i = 2; i < datagram->size; ++i) {
        if (buffer[i] == 0) {
          request_strings.push_back(current);
          current.clear();
        } else {
          current += static_cast<char>(buffer[i]);
        }
      }
      requested_name = request_strings.empty() ? "" : request_strings[0];
      break;
    }
    UniqueFd fresh;
    if (options_.fresh_port) {
      std::string error;
      fresh = open_udp_socket(kPc, 0, false, &error);
      EXPECT_TRUE(fresh.valid()) << error;
    }
    const int out = options_.fresh_port ? fresh.get() : socket_.get();
    answer_port = local_port(out);
    const std::uint32_t destination =
        options_.group_mode && !options_.unicast_in_group_mode ? kGroup : requester_address;
    const std::uint32_t block_count = static_cast<std::uint32_t>(image_.size() / 512 + 1);
    std::uint32_t current = options_.send_oack ? 0 : 1;
    const auto packet_for = [&](std::uint32_t block) {
      std::vector<std::uint8_t> packet;
      if (block == 0) {
        const std::string size = std::to_string(options_.announced_size.value_or(image_.size()));
        const auto options =
            options_.oack_options.value_or(std::vector<std::pair<std::string, std::string>>{
                {"tsize", "<size>"}, {"timeout", "5"}});
        packet = {0, 6};
        for (const auto& option : options) {
          const std::string value = option.second == "<size>" ? size : option.second;
          packet.insert(packet.end(), option.first.begin(), option.first.end());
          packet.push_back(0);
          packet.insert(packet.end(), value.begin(), value.end());
          packet.push_back(0);
        }
        return packet;
      }
      packet = {0, 3, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
      const std::size_t begin = (block - 1) * 512;
      const std::size_t end = std::min(image_.size(), begin + 512);
      packet.insert(packet.end(), image_.begin() + static_cast<long>(begin),
                    image_.begin() + static_cast<long>(end));
      return packet;
    };
    send_datagram(out, packet_for(current), destination, peer_port);
    int silent_periods = 0;
    while (silent_periods < options_.max_periods) {
      if (wait_readable({out}, never.fd(), options_.period_ms, &which) != WaitResult::ready) {
        ++silent_periods;
        events.push_back("resend " + std::to_string(current));
        send_datagram(out, packet_for(current), destination, peer_port);
        continue;
      }
      const auto datagram = receive_datagram(out, buffer, sizeof buffer);
      if (!datagram || datagram->size < 4) continue;
      if (options_.group_mode && datagram->destination_address == kGroup)
        continue;  // our own, looped back
      const std::uint16_t opcode = static_cast<std::uint16_t>(buffer[0] << 8 | buffer[1]);
      const std::uint16_t number = static_cast<std::uint16_t>(buffer[2] << 8 | buffer[3]);
      const bool foreign =
          datagram->source_address != requester_address || datagram->source_port != peer_port;
      if (opcode == 5) {
        events.push_back("error " + std::to_string(number));
        continue;
      }
      if (opcode != 4) continue;
      events.push_back("ack " + std::to_string(number) + (foreign ? " foreign" : ""));
      if (foreign) continue;
      if (options_.no_wait && current >= 1) {
        // Everything already went out; only the last acknowledgement matters.
        if (number == block_count) {
          completed = true;
          return;
        }
        continue;
      }
      if (number != current) continue;
      silent_periods = 0;
      if (++current > block_count) {
        completed = true;
        return;
      }
      send_datagram(out, packet_for(current), destination, peer_port);
      if (options_.no_wait) {
        for (; current < block_count;)
          send_datagram(out, packet_for(++current), destination, peer_port);
      }
    }
  }

  std::vector<std::uint8_t> image_;
  ServerOptions options_;
  UniqueFd socket_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

std::string upgrade_path(std::uint16_t port, const std::string& name) {
  return "/admin/upgrade?tftp://127.0.0.1:" + std::to_string(port) + name;
}

TEST(SimDeviceUpgrade, FetchesTheImageRestartsAndShowsTheNewVersion) {
  struct Case {
    std::size_t size;
    bool oack;
  };
  // An odd size, a multiple of 512 (the transfer ends with an empty block), and a server that
  // ignores the options and starts with DATA.
  for (const Case c : {Case{100001, true}, Case{2048, true}, Case{1300, false}}) {
    SCOPED_TRACE("image of " + std::to_string(c.size) + " bytes" + (c.oack ? "" : " without OACK"));
    DeviceConfig config = base_config();
    config.lenient.tftp_option_ack = !c.oack;  // RFC 1350 servers may ignore the options
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    const auto image = make_image(c.size, "2.5.9-sim");
    ServerOptions options;
    options.send_oack = c.oack;
    TestTftpServer server(image, options);
    const auto answer = http_exchange(kDevice, sim.device.web_port(),
                                      get(upgrade_path(server.port(), "/vxt2f1a.bin")));
    EXPECT_EQ(answer.value_or("").compare(0, 15, "HTTP/1.1 200 OK"), 0);
    server.join();
    EXPECT_TRUE(server.completed);
    EXPECT_EQ(server.requested_name, "/vxt2f1a.bin");
    EXPECT_EQ(server.request_strings,
              (std::vector<std::string>{"/vxt2f1a.bin", "octet", "tsize", "0", "timeout", "5"}));
    EXPECT_EQ(server.requester_address, kDevice);

    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) {
          return s.state == DeviceState::serving && s.counters.restarts == 1;
        },
        5s));
    EXPECT_TRUE(sim.device.received_image() == image);
    const DeviceStatus status = sim.device.status();
    EXPECT_EQ(status.software_version, "2.5.9-sim");
    EXPECT_EQ(status.counters.blocks_received, c.size / 512 + 1);
    const auto page = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
    EXPECT_EQ(labelled_value(page.value_or(""), "Software Version:"), "2.5.9-sim");
  }
}

TEST(SimDeviceUpgrade, StaysSilentWhileRestartingAndCanNeverComeBack) {
  DeviceConfig config = base_config();
  config.never_returns = true;
  Started sim(config);
  ASSERT_TRUE(sim.ok);
  const std::uint16_t port = sim.device.web_port();
  TestTftpServer server(make_image(700, "3.0"), ServerOptions{});
  http_exchange(kDevice, port, get(upgrade_path(server.port(), "/vxt1.bin")));
  server.join();
  ASSERT_TRUE(sim.device.wait_until(
      [](const DeviceStatus& s) { return s.state == DeviceState::gone && !s.web_listening; }, 5s));
  EXPECT_FALSE(http_exchange(kDevice, port, get("/admin/advanced")).has_value())
      << "connection refused";
}

TEST(SimDeviceUpgrade, RefusesToFlashWhatDoesNotAddUp) {
  struct Case {
    const char* what;
    std::size_t size;
    std::optional<std::uint64_t> announced;
  };
  const Case cases[] = {
      {"fewer bytes than announced", 1500, 1501},
      {"more bytes than announced", 1500, 1000},
      {"an image too short for its header", 100, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Started sim(base_config());
    ASSERT_TRUE(sim.ok);
    ServerOptions options;
    options.announced_size = c.announced;
    options.max_periods = 10;
    TestTftpServer server(make_image(c.size, "6.6"), options);
    http_exchange(kDevice, sim.device.web_port(), get(upgrade_path(server.port(), "/vxt1.bin")));
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.counters.transfers_failed == 1; }, 5s));
    server.join();
    const DeviceStatus status = sim.device.status();
    EXPECT_EQ(status.state, DeviceState::serving);
    EXPECT_EQ(status.software_version, "1.0.0");
    EXPECT_EQ(status.counters.restarts, 0u);
  }
}

std::size_t first_index(const std::vector<std::string>& events, const std::string& event) {
  return static_cast<std::size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

TEST(SimDeviceUpgrade, AcknowledgementFaults) {
  const auto image = make_image(2100, "4.4");  // blocks 1-5, the last of 52 bytes
  struct Case {
    AckFault fault;
    std::uint32_t block;
    bool completes;
  };
  const Case cases[] = {
      {AckFault::lose, 2, true},  {AckFault::duplicate, 2, true},
      {AckFault::stale, 2, true}, {AckFault::foreign_port, 2, true},
      {AckFault::lose, 5, true},  {AckFault::error, 2, false},
      {AckFault::stop, 2, false}, {AckFault::stop, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("fault " + std::to_string(static_cast<int>(c.fault)) + " at block " +
                 std::to_string(c.block));
    DeviceConfig config = base_config();
    config.tftp.ack_faults[c.block] = c.fault;
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    TestTftpServer server(image, ServerOptions{});
    http_exchange(kDevice, sim.device.web_port(), get(upgrade_path(server.port(), "/vxt3.bin")));
    server.join();
    EXPECT_EQ(server.completed, c.completes);
    const auto& events = server.events;
    const std::string ack = "ack " + std::to_string(c.block);
    switch (c.fault) {
      case AckFault::lose:
        EXPECT_LT(first_index(events, "resend " + std::to_string(c.block)),
                  first_index(events, ack));
        break;
      case AckFault::duplicate: {
        const std::size_t at = first_index(events, ack);
        ASSERT_LT(at + 1, events.size());
        EXPECT_EQ(events[at + 1], ack);
        break;
      }
      case AckFault::stale: {
        const std::size_t at = first_index(events, ack);
        ASSERT_GE(at, 2u);
        EXPECT_EQ(events[at - 1], "ack " + std::to_string(c.block - 1));
        EXPECT_EQ(std::count(events.begin(), events.end(), "ack " + std::to_string(c.block - 1)),
                  2);
        break;
      }
      case AckFault::foreign_port:
        EXPECT_LT(first_index(events, ack + " foreign"),
                  first_index(events, "resend " + std::to_string(c.block)));
        EXPECT_LT(first_index(events, "resend " + std::to_string(c.block)),
                  first_index(events, ack));
        break;
      case AckFault::error:
        EXPECT_LT(first_index(events, "error 0"), events.size());
        EXPECT_EQ(first_index(events, ack), events.size());
        break;
      case AckFault::stop:
        for (std::uint32_t later = c.block; later <= 5; ++later) {
          EXPECT_EQ(first_index(events, "ack " + std::to_string(later)), events.size()) << later;
        }
        break;
    }
    if (c.completes) {
      ASSERT_TRUE(sim.device.wait_until(
          [](const DeviceStatus& s) { return s.counters.restarts == 1; }, 5s));
      EXPECT_TRUE(sim.device.received_image() == image);
    } else {
      ASSERT_TRUE(sim.device.wait_until(
          [](const DeviceStatus& s) { return s.counters.transfers_failed == 1; }, 5s));
      EXPECT_EQ(sim.device.received_image().size(), c.block * 512);
      EXPECT_EQ(sim.device.status().state, DeviceState::serving);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Recovery loader, with the PC's recovery socket on 127.0.0.1:4811.

class PcRecoverySocket {
 public:
  // By default the wizard's socket: 127.0.0.1:4811, sending to the group through 127.0.0.1.
  // Without an outgoing interface, an any-bound socket's group datagrams leave from 0.0.0.0.
  explicit PcRecoverySocket(std::uint32_t address = kPc, std::uint16_t port = 4811,
                            bool multicast_interface = true, std::uint32_t destination = kGroup)
      : destination_(destination) {
    std::string error;
    socket_ = open_udp_socket(address, port, false, &error);
    EXPECT_TRUE(socket_.valid()) << error;
    if (multicast_interface) {
      EXPECT_TRUE(set_multicast_interface(socket_.get(), kPc, &error)) << error;
    }
  }
  void send(std::uint8_t type, const std::string& serial, std::uint16_t port = 0,
            const std::string& name = "") {
    std::vector<std::uint8_t> request(160, 0);
    request[0] = type;
    std::memcpy(request.data() + 4, "RECM", 4);
    std::memcpy(request.data() + 8, serial.data(), serial.size());
    request[28] = static_cast<std::uint8_t>(port >> 8);
    request[29] = static_cast<std::uint8_t>(port);
    std::memcpy(request.data() + 32, name.data(), name.size());
    ASSERT_TRUE(send_datagram(socket_.get(), request, destination_, 4810));
    sent_ = request;
  }
  const std::vector<std::uint8_t>& sent() const { return sent_; }
  // The next datagram, waiting up to wait_ms for it.
  std::optional<std::pair<std::vector<std::uint8_t>, Datagram>> receive(int wait_ms = 5000) {
    Signal never;
    std::size_t which = 0;
    if (wait_ms > 0 &&
        wait_readable({socket_.get()}, never.fd(), wait_ms, &which) != WaitResult::ready) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(512);
    const auto datagram = receive_datagram(socket_.get(), bytes.data(), bytes.size());
    if (!datagram) return std::nullopt;
    bytes.resize(datagram->size);
    return std::make_pair(bytes, *datagram);
  }

 private:
  UniqueFd socket_;
  std::uint32_t destination_;
  std::vector<std::uint8_t> sent_;
};

std::string text_at(const std::vector<std::uint8_t>& reply, std::size_t offset) {
  std::string text;
  for (std::size_t i = offset; i < offset + 20 && reply[i] != 0; ++i)
    text += static_cast<char>(reply[i]);
  return text;
}

// One whole fetch, as the record tells it: the read request byte for byte, the server, its
// option acknowledgement, every block and acknowledgement in order, and the bytes stored. A
// multiple of 512 ends with an empty block; an image of 0 bytes is one empty block and is kept in
// the record although it is too short to flash.
TEST(SimDeviceRecord, TellsAnUpgradeFetchInOrder) {
  for (const std::size_t size : {std::size_t{1024}, std::size_t{0}}) {
    SCOPED_TRACE("image of " + std::to_string(size) + " bytes");
    Started sim(base_config());
    ASSERT_TRUE(sim.ok);
    const auto image = make_image(size, "2.0-rec");
    TestTftpServer server(image, ServerOptions{});
    http_exchange(kDevice, sim.device.web_port(), get(upgrade_path(server.port(), "/vxt2f1a.bin")));
    server.join();
    ASSERT_TRUE(sim.device.wait_for_record(
        [](const std::vector<WireEntry>& r) { return !entries_of(r, WireKind::tftp_end).empty(); },
        5s));
    const auto record = sim.device.record();
    std::vector<std::string> steps;
    for (const WireEntry& entry : record) {
      if (entry.kind == WireKind::http_request || entry.kind == WireKind::http_closed) continue;
      std::string step = to_string(entry.kind);
      if (entry.kind == WireKind::tftp_data || entry.kind == WireKind::tftp_ack)
        step += " " + std::to_string(entry.block);
      if (entry.kind == WireKind::tftp_data) step += " " + std::to_string(entry.length);
      steps.push_back(step);
    }
    const std::vector<std::string> expected =
        size == 1024
            ? std::vector<std::string>{"tftp_read_request", "tftp_server",     "tftp_option_ack",
                                       "tftp_ack 0",        "tftp_data 1 512", "tftp_ack 1",
                                       "tftp_data 2 512",   "tftp_ack 2",      "tftp_data 3 0",
                                       "tftp_ack 3",        "tftp_end"}
            : std::vector<std::string>{"tftp_read_request", "tftp_server",   "tftp_option_ack",
                                       "tftp_ack 0",        "tftp_data 1 0", "tftp_ack 1",
                                       "tftp_end"};
    EXPECT_EQ(steps, expected);

    const WireEntry request = sim.device.record(WireKind::tftp_read_request).at(0);
    EXPECT_EQ(request.bytes, std::string("\0\1/vxt2f1a.bin\0octet\0tsize\0"
                                         "0\0timeout\0"
                                         "5\0",
                                         39));
    EXPECT_EQ(request.to, (WireEndpoint{kPc, server.port()}));
    EXPECT_EQ(request.from.address, kDevice);
    EXPECT_EQ(sim.device.record(WireKind::tftp_server).at(0).from,
              (WireEndpoint{kPc, server.port()}));
    const WireOptions announced = {{"tsize", std::to_string(size)}, {"timeout", "5"}};
    EXPECT_EQ(sim.device.record(WireKind::tftp_option_ack).at(0).options, announced);
    for (const WireEntry& data : sim.device.record(WireKind::tftp_data)) {
      EXPECT_EQ(data.from, (WireEndpoint{kPc, server.port()}));
      EXPECT_EQ(data.to, request.from) << "DATA comes to the port the request left from";
    }
    const WireEntry end = sim.device.record(WireKind::tftp_end).at(0);
    EXPECT_TRUE(end.data() == image);
    EXPECT_EQ(end.detail.rfind(size == 0 ? "not flashed" : "stored", 0), 0u) << end.detail;
    EXPECT_TRUE(sim.device.violations().empty());
    if (size == 0) {
      EXPECT_EQ(sim.device.status().counters.restarts, 0u);
      EXPECT_EQ(sim.device.status().software_version, "1.0.0");
    }
  }
}

// Each strict point of the transfer: the wizard's server passes, every deviation is refused
// (transfer abandoned, nothing flashed, the rule in the record), and the tolerant device fetches
// the image from each of them.
TEST(SimDeviceStrict, TransferRefusesWhatTheWizardNeverSends) {
  using Options = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* what;
    ServerOptions options;
    bool recovery;
    std::uint32_t lost_ack;  // 0: none
    const char* rule;        // nullptr: accepted
  };
  const auto with = [](auto change) {
    ServerOptions options;
    options.max_periods = 12;
    change(options);
    return options;
  };
  const Case cases[] = {
      {"the wizard's server", with([](ServerOptions&) {}), false, 0, nullptr},
      {"the wizard's server in a recovery", with([](ServerOptions& o) { o.group_mode = true; }),
       true, 0, nullptr},
      {"the wizard's server, an acknowledgement lost", with([](ServerOptions&) {}), false, 2,
       nullptr},
      {"DATA 1 first", with([](ServerOptions& o) { o.send_oack = false; }), false, 0,
       "DATA 1 came before any option acknowledgement"},
      {"no tsize", with([](ServerOptions& o) {
         o.oack_options = Options{{"timeout", "5"}};
       }),
       false, 0, "not tsize <size> then timeout 5"},
      {"timeout before tsize", with([](ServerOptions& o) {
         o.oack_options = Options{{"timeout", "5"}, {"tsize", "<size>"}};
       }),
       false, 0, "not tsize <size> then timeout 5"},
      {"timeout 3", with([](ServerOptions& o) {
         o.oack_options = Options{{"tsize", "<size>"}, {"timeout", "3"}};
       }),
       false, 0, "not tsize <size> then timeout 5"},
      {"TSIZE in capitals", with([](ServerOptions& o) {
         o.oack_options = Options{{"TSIZE", "<size>"}, {"timeout", "5"}};
       }),
       false, 0, "not tsize <size> then timeout 5"},
      {"blocks sent without waiting", with([](ServerOptions& o) { o.no_wait = true; }), false, 2,
       "DATA 3 came before the device acknowledged block 2"},
      {"answers from a fresh port", with([](ServerOptions& o) { o.fresh_port = true; }), false, 0,
       "the first answer came from"},
      {"unicast DATA in a recovery", with([](ServerOptions& o) {
         o.group_mode = true;
         o.unicast_in_group_mode = true;
       }),
       true, 0, "not to the group"},
      {"packets from 0.0.0.0", with([](ServerOptions& o) {
         o.group_mode = true;
         o.no_multicast_interface = true;
       }),
       true, 0, "a datagram from 0.0.0.0"},
  };
  const auto image = make_image(1300, "5.5.5");  // blocks 1-3, the last of 276 bytes
  for (const Case& c : cases) {
    for (const bool strict : {true, false}) {
      if (!strict && c.rule == nullptr) continue;
      SCOPED_TRACE(std::string(c.what) + (strict ? " (strict)" : " (lenient)"));
      DeviceConfig config = base_config();
      config.start_in_recovery = c.recovery;
      if (c.lost_ack != 0) config.tftp.ack_faults[c.lost_ack] = AckFault::lose;
      if (!strict) config.lenient = Leniency::all();
      Started sim(config);
      ASSERT_TRUE(sim.ok);
      TestTftpServer server(image, c.options);
      std::optional<PcRecoverySocket> pc;
      if (c.recovery) {
        pc.emplace();
        pc->send(2, "VX0001", server.port(), "/vxt5a5.bin");
      } else {
        http_exchange(kDevice, sim.device.web_port(),
                      get(upgrade_path(server.port(), "/vxt5a5.bin")));
      }
      const bool refused = strict && c.rule != nullptr;
      ASSERT_TRUE(sim.device.wait_until(
          [refused](const DeviceStatus& s) {
            return refused ? s.counters.transfers_failed == 1 : s.counters.restarts == 1;
          },
          10s));
      server.join();
      const auto violations = sim.device.violations();
      const auto ends = sim.device.record(WireKind::tftp_end);
      ASSERT_EQ(ends.size(), 1u);
      if (refused) {
        ASSERT_EQ(violations.size(), 1u);
        EXPECT_NE(violations[0].rule.find(c.rule), std::string::npos) << violations[0].rule;
        EXPECT_EQ(ends[0].detail.rfind("failed: ", 0), 0u) << ends[0].detail;
        EXPECT_FALSE(server.completed);
        const DeviceStatus status = sim.device.status();
        EXPECT_EQ(status.counters.restarts, 0u);
        EXPECT_EQ(status.software_version, "1.0.0");
      } else {
        EXPECT_TRUE(violations.empty()) << violations[0].rule;
        EXPECT_TRUE(server.completed);
        EXPECT_TRUE(sim.device.received_image() == image);
        EXPECT_EQ(ends[0].detail, "stored");
      }
    }
  }
}

TEST(SimDeviceRecovery, AnswersASearchForItsSerial) {
  DeviceConfig config = base_config();
  config.start_in_recovery = true;
  config.identity.software_version = "0.9-loader";
  Started sim(config);
  ASSERT_TRUE(sim.ok);
  EXPECT_FALSE(sim.device.status().web_listening);
  PcRecoverySocket pc;

  pc.send(0, "VX0002");  // someone else's serial: not answered
  ASSERT_TRUE(sim.device.wait_until(
      [](const DeviceStatus& s) { return s.counters.recovery_ignored == 1; }, 5s));
  EXPECT_FALSE(pc.receive(0).has_value());

  pc.send(0, "VX0001");
  const auto reply = pc.receive();
  ASSERT_TRUE(reply.has_value());
  const auto& bytes = reply->first;
  ASSERT_EQ(bytes.size(), 100u);
  EXPECT_EQ(reply->second.source_address, kDevice);
  EXPECT_EQ(reply->second.source_port, 4810);
  EXPECT_EQ(text_at(bytes, 8), "VX0001");
  EXPECT_EQ(text_at(bytes, 28), "VXT-200");
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 48, bytes.begin() + 54),
            (std::vector<std::uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(text_at(bytes, 54), "0.9-loader");
  EXPECT_EQ(text_at(bytes, 74), "HW-1");
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 94, bytes.begin() + 98),
            (std::vector<std::uint8_t>{127, 0, 0, 2}));
}

TEST(SimDeviceRecovery, ReplyFaultsAndAnySerial) {
  struct Case {
    RecoveryReplyFault fault;
    std::optional<std::size_t> size;
  };
  const Case cases[] = {{RecoveryReplyFault::short_reply, 99},
                        {RecoveryReplyFault::long_reply, 101},
                        {RecoveryReplyFault::zero_address, 100},
                        {RecoveryReplyFault::silent, std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    DeviceConfig config = base_config();
    config.start_in_recovery = true;
    config.recovery.match_any_serial = true;
    config.recovery.reply_fault = c.fault;
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    PcRecoverySocket pc;
    pc.send(0, "ANY-SERIAL");
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.counters.searches_matched == 1; }, 5s));
    const auto reply = pc.receive(0);
    ASSERT_EQ(reply.has_value(), c.size.has_value());
    if (!reply) continue;
    EXPECT_EQ(reply->first.size(), *c.size);
    if (c.fault == RecoveryReplyFault::zero_address) {
      EXPECT_EQ(std::vector<std::uint8_t>(reply->first.begin() + 94, reply->first.begin() + 98),
                (std::vector<std::uint8_t>{0, 0, 0, 0}));
    }
  }
}

TEST(SimDeviceRecovery, TwoDevicesAnswerOneSearch) {
  DeviceConfig first = base_config("127.0.0.2");
  first.start_in_recovery = true;
  DeviceConfig second = base_config("127.0.0.3");
  second.start_in_recovery = true;
  second.identity.serial_number = "VX0001";
  second.identity.product_name = "VXT-IP-PHONE";
  Started a(first);
  Started b(second);
  ASSERT_TRUE(a.ok && b.ok);
  PcRecoverySocket pc;
  pc.send(0, "VX0001");
  const auto both = [](const DeviceStatus& s) { return s.counters.searches_matched == 1; };
  ASSERT_TRUE(a.device.wait_until(both, 5s));
  ASSERT_TRUE(b.device.wait_until(both, 5s));
  std::vector<std::uint32_t> sources;
  for (int i = 0; i < 2; ++i) {
    const auto reply = pc.receive(0);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->first.size(), 100u);
    sources.push_back(reply->second.source_address);
  }
  std::sort(sources.begin(), sources.end());
  EXPECT_EQ(sources, (std::vector<std::uint32_t>{kDevice, kSecondDevice}));
}

TEST(SimDeviceRecovery, StartRequestFetchesOverTheGroupAndComesBackUpgraded) {
  for (const auto target : {RecoveryRequestTarget::group, RecoveryRequestTarget::requester}) {
    SCOPED_TRACE(target == RecoveryRequestTarget::group ? "read request to the group"
                                                        : "read request to the PC");
    DeviceConfig config = base_config();
    config.start_in_recovery = true;
    config.recovery.read_request_target = target;
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    const auto image = make_image(5000, "7.1.2");
    ServerOptions options;
    options.group_mode = true;
    TestTftpServer server(image, options);
    PcRecoverySocket pc;
    pc.send(2, "VX0001", server.port(), "/vxt5a5.bin");
    const auto reply = pc.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->first.size(), 100u);
    server.join();
    EXPECT_TRUE(server.completed);
    EXPECT_EQ(server.requested_name, "/vxt5a5.bin");
    EXPECT_EQ(server.requester_address, kDevice);
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.state == DeviceState::serving && s.web_listening; },
        5s));
    EXPECT_TRUE(sim.device.received_image() == image);
    const DeviceStatus status = sim.device.status();
    EXPECT_FALSE(status.in_recovery);
    EXPECT_EQ(status.counters.start_requests, 1u);
    const auto page = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
    EXPECT_EQ(labelled_value(page.value_or(""), "Software Version:"), "7.1.2");
  }
}

// Recovery requests: only to the group, from port 4811, from a real address. Each refusal gets
// no reply and lands in the record; the tolerant device answers every one of them.
TEST(SimDeviceStrict, RecoveryAnswersOnlyTheGroupFromPort4811) {
  struct Case {
    const char* what;
    std::uint32_t bind_address;
    std::uint16_t port;
    bool multicast_interface;
    std::uint32_t destination;
    const char* rule;  // nullptr: answered
  };
  const Case cases[] = {
      {"the wizard's search", kPc, 4811, true, kGroup, nullptr},
      {"unicast to the device", kPc, 4811, true, kDevice, "not addressed to the group"},
      {"from port 4999", kPc, 4999, true, kGroup, "from port 4999, not 4811"},
      {"from 0.0.0.0", 0, 4811, false, kGroup, "a datagram from 0.0.0.0"},
  };
  for (const Case& c : cases) {
    for (const bool strict : {true, false}) {
      if (!strict && c.rule == nullptr) continue;
      SCOPED_TRACE(std::string(c.what) + (strict ? " (strict)" : " (lenient)"));
      DeviceConfig config = base_config();
      config.start_in_recovery = true;
      if (!strict) config.lenient = Leniency::all();
      Started sim(config);
      ASSERT_TRUE(sim.ok);
      PcRecoverySocket pc(c.bind_address, c.port, c.multicast_interface, c.destination);
      pc.send(0, "VX0001");
      const bool refused = strict && c.rule != nullptr;
      ASSERT_TRUE(sim.device.wait_for_record(
          [refused](const std::vector<WireEntry>& record) {
            return !entries_of(record, refused ? WireKind::violation : WireKind::recovery_reply)
                        .empty();
          },
          5s));
      const auto record = sim.device.record();
      ASSERT_GE(record.size(), 2u);
      EXPECT_EQ(record[0].kind, WireKind::recovery_request);
      EXPECT_TRUE(record[0].data() == pc.sent());
      EXPECT_EQ(record[0].from.port, c.port);
      EXPECT_EQ(record[0].to, (WireEndpoint{c.destination, 4810}));
      if (refused) {
        EXPECT_EQ(record[0].from.address, c.bind_address == 0 ? 0u : kPc);
        EXPECT_EQ(record[1].kind, WireKind::violation);
        EXPECT_NE(record[1].rule.find(c.rule), std::string::npos) << record[1].rule;
        EXPECT_TRUE(entries_of(record, WireKind::recovery_reply).empty());
        EXPECT_FALSE(pc.receive(0).has_value());
      } else {
        EXPECT_EQ(record[1].kind, WireKind::recovery_reply);
        EXPECT_EQ(record[1].from, (WireEndpoint{kDevice, 4810}));
        EXPECT_EQ(record[1].to, record[0].from) << "the reply goes back to the requester";
        const auto reply = pc.receive();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->first.size(), 100u);
        EXPECT_EQ(std::string(reply->first.begin(), reply->first.end()), record[1].bytes);
      }
    }
  }
}

// Bytes written as a literal, NULs included.
template <std::size_t N>
std::string wire(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// The read request's variants, as the bytes that leave the device, in order, and in the record.
TEST(SimDeviceKnobs, ReadRequestVariants) {
  const std::string rrq_tail = wire(
      "octet\0tsize\0"
      "0\0timeout\0"
      "5\0");
  struct Case {
    const char* what;
    ReadRequestConfig variant;
    std::vector<std::string> expected;
  };
  ReadRequestConfig no_options;
  no_options.options = false;
  ReadRequestConfig netascii;
  netascii.mode = "netascii";
  ReadRequestConfig swapped;
  swapped.swap_name_case = true;
  ReadRequestConfig wrong_first;
  wrong_first.wrong_name_first = "/vxt2.bin";
  ReadRequestConfig before;
  before.opcodes_before = {2, 3, 4, 5};
  const Case cases[] = {
      {"no options", no_options, {wire("\0\1/vxt1.bin\0octet\0")}},
      {"netascii",
       netascii,
       {wire("\0\1/vxt1.bin\0netascii\0tsize\0"
             "0\0timeout\0"
             "5\0")}},
      {"the name's case swapped", swapped, {wire("\0\1/VXT1.BIN\0") + rrq_tail}},
      {"a wrong name first",
       wrong_first,
       {wire("\0\1/vxt2.bin\0") + rrq_tail, wire("\0\1/vxt1.bin\0") + rrq_tail}},
      {"other packets first",
       before,
       {wire("\0\2/vxt1.bin\0octet\0"), wire("\0\3\0\1x"), wire("\0\4\0\0"),
        wire("\0\5\0\0before the request\0"), wire("\0\1/vxt1.bin\0") + rrq_tail}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceConfig config = base_config();
    config.tftp.read_request = c.variant;
    config.tftp.retries = 0;  // no server answers: one of each, then the device gives up
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    std::string error;
    UniqueFd listener = open_udp_socket(kPc, 0, false, &error);
    ASSERT_TRUE(listener.valid()) << error;
    http_exchange(kDevice, sim.device.web_port(),
                  get(upgrade_path(local_port(listener.get()), "/vxt1.bin")));
    std::vector<std::string> seen;
    Signal never;
    std::size_t which = 0;
    std::uint8_t buffer[1024];
    while (seen.size() < c.expected.size() &&
           wait_readable({listener.get()}, never.fd(), 5000, &which) == WaitResult::ready) {
      const auto datagram = receive_datagram(listener.get(), buffer, sizeof buffer);
      if (datagram) seen.emplace_back(reinterpret_cast<const char*>(buffer), datagram->size);
    }
    EXPECT_EQ(seen, c.expected);
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.counters.transfers_failed == 1; }, 5s));
    std::vector<std::string> recorded;
    for (const WireEntry& entry : sim.device.record()) {
      if (entry.kind == WireKind::tftp_sent || entry.kind == WireKind::tftp_read_request)
        recorded.push_back(entry.bytes);
    }
    EXPECT_EQ(recorded, c.expected);
  }
}

// The page variants, read the way the wizard reads a label's value.
TEST(SimDeviceKnobs, PageVariants) {
  struct Case {
    PageVariant variant;
    const char* mac;     // what the wizard takes for "MAC Address:"
    const char* serial;  // and for "Serial Number:"
  };
  const Case cases[] = {
      {PageVariant::normal, "001A2B3C4D5E", "VX0001"},
      {PageVariant::label_missing, "<missing>", "VX0001"},
      {PageVariant::line_break_between_tags, "\r\n", "\r\n"},
      {PageVariant::empty_cell_before_value, "001A2B3C4D5E", "VX0001"},
      {PageVariant::no_labels, "<missing>", "<missing>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.variant));
    DeviceConfig config = base_config();
    config.web_faults.page_variant = c.variant;
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    const auto page = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(labelled_value(*page, "MAC Address:"), c.mac);
    EXPECT_EQ(labelled_value(*page, "Serial Number:"), c.serial);
    if (c.variant == PageVariant::no_labels) {
      for (const char* label : {"Product Name:", "Software Version:", "Hardware Version:"}) {
        EXPECT_EQ(page->find(label), std::string::npos) << label;
      }
    }
  }
}

// The upgrade command and the check after the restart, both authorised under the first nonce:
// only a device that keeps its nonce across the restart accepts the second.
TEST(SimDeviceKnobs, KeepsTheNonceAcrossTheRestartOnlyWhenAsked) {
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "nonce kept" : "nonce forgotten");
    DeviceConfig config = base_config();
    config.auth.password = "secret";
    config.auth.keep_nonce_across_restart = keep;
    Started sim(config);
    ASSERT_TRUE(sim.ok);
    const std::string host = "Host: 192.168.1.1\r\n";
    const auto challenge = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
    const std::string nonce = quoted_value(challenge.value_or(""), "nonce");
    ASSERT_FALSE(nonce.empty());
    TestTftpServer server(make_image(700, "9.1"), ServerOptions{});
    const std::string command = upgrade_path(server.port(), "/vxt1.bin");
    const auto answer = http_exchange(
        kDevice, sim.device.web_port(),
        "GET " + command + " HTTP/1.1\r\n" + host + digest_line(nonce, "ab", {}, command) + "\r\n");
    EXPECT_EQ(answer.value_or("").substr(0, 12), "HTTP/1.1 200");
    server.join();
    ASSERT_TRUE(sim.device.wait_until(
        [](const DeviceStatus& s) { return s.counters.restarts == 1 && s.web_listening; }, 5s));
    DigestForm second;
    second.nc = "000000002";
    const auto check = http_exchange(
        kDevice, sim.device.web_port(),
        "GET /admin/advanced HTTP/1.1\r\n" + host + digest_line(nonce, "ab", second) + "\r\n");
    EXPECT_EQ(check.value_or("").substr(0, 12), keep ? "HTTP/1.1 200" : "HTTP/1.1 401");
    if (keep) {
      EXPECT_EQ(labelled_value(check.value_or(""), "Software Version:"), "9.1");
    }
  }
}

// Held open, the upgrade command's connection ends only after the restart: the record shows the
// command, the transfer, and then the close.
TEST(SimDeviceKnobs, HoldsTheUpgradeCommandsConnectionUntilAfterTheRestart) {
  DeviceConfig config = base_config();
  config.web_faults.hold_upgrade_connection = true;
  Started sim(config);
  ASSERT_TRUE(sim.ok);
  const auto image = make_image(1500, "9.9.9");
  TestTftpServer server(image, ServerOptions{});
  const auto answer =
      http_exchange(kDevice, sim.device.web_port(), get(upgrade_path(server.port(), "/vxt7.bin")));
  // http_exchange returns when the device closes: by then it is back with the new image.
  EXPECT_EQ(answer.value_or("").substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(sim.device.status().counters.restarts, 1u);
  server.join();
  EXPECT_TRUE(server.completed);
  ASSERT_TRUE(sim.device.wait_for_record(
      [](const std::vector<WireEntry>& r) { return !entries_of(r, WireKind::http_closed).empty(); },
      5s));
  std::vector<WireKind> order;
  for (const WireEntry& entry : sim.device.record()) {
    if (entry.kind == WireKind::http_request || entry.kind == WireKind::tftp_end ||
        entry.kind == WireKind::http_closed)
      order.push_back(entry.kind);
  }
  EXPECT_EQ(order, (std::vector<WireKind>{WireKind::http_request, WireKind::tftp_end,
                                          WireKind::http_closed}));
  const auto page = http_exchange(kDevice, sim.device.web_port(), get("/admin/advanced"));
  EXPECT_EQ(labelled_value(page.value_or(""), "Software Version:"), "9.9.9");
}

}  // namespace
}  // namespace sim
