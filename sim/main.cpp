// vxt-device-sim: a simulated VXT device for demos and for trying the wizard without hardware.
#include <getopt.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/udp_socket.h"

namespace {

const char kUsage[] = R"(Usage: vxt-device-sim [OPTION]...
Runs a simulated VXT device until SIGINT or SIGTERM, logging one line per request, per
transfer step and per refusal. Ports 80 and 69 need root or cap_net_bind_service; run it in a
private network namespace (tests/in_netns) to keep its traffic on loopback.

The device is strict: it refuses what a real VXT device would not understand, logs the rule
broken and answers nothing more (HTTP: 400 Bad Request; TFTP: the transfer is abandoned, nothing
is flashed; recovery: no reply). Third-party peers such as curl or tftpd-hpa need:
  --lenient[=POINT,...]      tolerate every point, or only those named:
                               http-head           any HTTP/1.x head: other header lines, no
                                                   Host, HTTP/1.0, bare LF line ends
                               authorization       any RFC 2617 Authorization form
                               tftp-option-ack     DATA without option acknowledgement, options
                                                   in any order, letter case and timeout
                               tftp-stop-and-wait  DATA beyond the last block acknowledged
                               tftp-server-port    answers from another port of the server
                                                   (tftpd-hpa answers from a fresh port)
                               tftp-group-data     unicast DATA during a recovery
                               zero-source         answer datagrams from 0.0.0.0
                               recovery-requests   requests not to the group or not from 4811

Device:
  --address A.B.C.D          the device's IPv4 address; every socket binds it (127.0.0.2)
  --web-port N               web server port; 0 picks a free one (80)
  --recovery                 start in recovery loader mode: no web server until a recovery
  --product-name TEXT        "Product Name:" and the reply's product name (VXT-200)
  --mac XX:XX:XX:XX:XX:XX    MAC address, colons optional (00:1A:2B:3C:4D:5E)
  --software-version TEXT    software version until an upgrade replaces it (1.0.0)
  --hardware-version TEXT    hardware version (HW-1)
  --serial TEXT              serial number (VX0001)
  --restart-delay MS         silence of the web server after an upload (3000)
  --never-return             after an upload the device never comes back
  --save-image PATH          write each received image to PATH (replaced atomically)

Digest authentication (only with a password):
  --user NAME                user name (admin)
  --password TEXT            password; without it pages are served to anyone
  --realm TEXT               realm (VXT)
  --qop none|auth|auth-int|auth,auth-int   qop offered in the challenge (auth)
  --algorithm none|MD5|MD5-sess            algorithm of the challenge (MD5)
  --algorithm-unquoted       write algorithm=MD5 instead of algorithm="MD5"
  --opaque TEXT              opaque value of the challenge (none)
  --nonce-lifetime MS        a nonce expires this long after it was issued (no limit)
  --nonce-uses N             a nonce expires after N accepted requests; 1 makes every nonce
                             stale after one request (no limit)

Web faults:
  --no-answer                read each request and never answer (the connection stays open)
  --close-without-response   read each request and close without a byte
  --page-size BYTES          pad the information page body to at least BYTES (e.g. 140000)
  --no-challenge             answer every request 401 without WWW-Authenticate
  --http10                   status lines say HTTP/1.0
  --page-variant KIND        layout of the information page: normal, label-missing (leaves
                             out --omit-label), line-break (CR LF between the label's cell and
                             the value's), empty-cell (an empty cell before the value),
                             no-labels (none of the five labels) (normal)
  --omit-label TEXT          the label label-missing leaves out ("MAC Address:")
  --keep-nonce               keep the nonce across the restart after an upload
  --hold-upgrade-connection  answer the upgrade command, then keep its connection open until
                             the device is back from the restart
  --max-connections N        web connections served at once, each on its own thread (16)

TFTP client:
  --tftp-timeout MS          silence before the last packet is sent again (1000)
  --tftp-retries N           resends before a transfer is given up (5)
  --ack-fault BLOCK:KIND     instead of the plain acknowledgement of BLOCK (0 = the option
                             acknowledgement), KIND one of:
                               lose          send nothing, acknowledge the retransmission
                               duplicate     send the acknowledgement twice
                               stale         send the previous block's acknowledgement first
                               foreign-port  send it from another source port once
                               error         send an ERROR packet and abandon the transfer
                               stop          acknowledge nothing from this block on
                             may be given several times
  --rrq-no-options           the read request carries no tsize and timeout options
  --rrq-mode MODE            transfer mode of the read request (octet)
  --rrq-swap-case            ask for the file name with its letters' case swapped
  --rrq-wrong-name-first NAME  ask for NAME first, then for the right file
  --rrq-packets-before LIST  send these packets to the server before the read request, in
                             order: wrq, data, ack, error (comma-separated)

Recovery loader:
  --match-any-serial         answer requests for any serial number
  --rrq-to group|requester   where the read request of a recovery goes (group)
  --reply-fault none|silent|short|long|zero-address
                             no reply at all, 99 or 101 bytes, or address 0.0.0.0 (none)
  --no-start-reply           do not answer start requests with the reply datagram

  --help                     show this text
)";

std::mutex log_mutex;

void print_line(const std::string& line) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis));
  std::lock_guard<std::mutex> lock(log_mutex);
  std::cout << stamp << " " << line << std::endl;
}

[[noreturn]] void usage_error(const std::string& message) {
  std::cerr << "vxt-device-sim: " << message << "\nTry 'vxt-device-sim --help'.\n";
  std::exit(2);
}

unsigned long parse_number(const char* option, const std::string& text, unsigned long max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value > max || text[0] == '-') {
    usage_error(std::string("bad number for ") + option + ": \"" + text + "\"");
  }
  return value;
}

bool parse_mac(const std::string& text, std::array<std::uint8_t, 6>* mac) {
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() != 12) return false;
  for (int i = 0; i < 6; ++i)
    (*mac)[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(i * 2, 2), nullptr, 16));
  return true;
}

sim::AckFault parse_ack_kind(const std::string& kind) {
  if (kind == "lose") return sim::AckFault::lose;
  if (kind == "duplicate") return sim::AckFault::duplicate;
  if (kind == "stale") return sim::AckFault::stale;
  if (kind == "foreign-port") return sim::AckFault::foreign_port;
  if (kind == "error") return sim::AckFault::error;
  if (kind == "stop") return sim::AckFault::stop;
  usage_error("unknown acknowledgement fault \"" + kind + "\"");
}

std::vector<std::string> split_list(const std::string& text) {
  std::vector<std::string> items;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = text.find(',', at);
    const std::size_t end = comma == std::string::npos ? text.size() : comma;
    items.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

void set_lenient(const std::string& point, sim::Leniency* lenient) {
  if (point == "http-head")
    lenient->http_head = true;
  else if (point == "authorization")
    lenient->authorization = true;
  else if (point == "tftp-option-ack")
    lenient->tftp_option_ack = true;
  else if (point == "tftp-stop-and-wait")
    lenient->tftp_stop_and_wait = true;
  else if (point == "tftp-server-port")
    lenient->tftp_server_port = true;
  else if (point == "tftp-group-data")
    lenient->tftp_group_data = true;
  else if (point == "zero-source")
    lenient->zero_source = true;
  else if (point == "recovery-requests")
    lenient->recovery_requests = true;
  else
    usage_error("unknown point \"" + point + "\" for --lenient");
}

void save_image(const std::string& path, const std::vector<std::uint8_t>& image) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) {
      print_line("cannot write " + temporary);
      return;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    print_line("cannot rename " + temporary + " to " + path);
    return;
  }
  print_line("saved the received image (" + std::to_string(image.size()) + " bytes) to " + path);
}

}  // namespace

int main(int argc, char** argv) {
  enum Option {
    address = 256,
    web_port,
    recovery,
    product_name,
    mac,
    software_version,
    hardware_version,
    serial,
    restart_delay,
    never_return,
    save_image_path,
    user,
    password,
    realm,
    qop,
    algorithm,
    algorithm_unquoted,
    opaque,
    nonce_lifetime,
    nonce_uses,
    no_answer,
    close_without_response,
    page_size,
    no_challenge,
    http10,
    tftp_timeout,
    tftp_retries,
    ack_fault,
    match_any_serial,
    rrq_to,
    reply_fault,
    no_start_reply,
    lenient,
    page_variant,
    omit_label,
    keep_nonce,
    hold_upgrade_connection,
    max_connections,
    rrq_no_options,
    rrq_mode,
    rrq_swap_case,
    rrq_wrong_name_first,
    rrq_packets_before,
    help,
  };
  static const option kOptions[] = {
      {"address", required_argument, nullptr, address},
      {"web-port", required_argument, nullptr, web_port},
      {"recovery", no_argument, nullptr, recovery},
      {"product-name", required_argument, nullptr, product_name},
      {"mac", required_argument, nullptr, mac},
      {"software-version", required_argument, nullptr, software_version},
      {"hardware-version", required_argument, nullptr, hardware_version},
      {"serial", required_argument, nullptr, serial},
      {"restart-delay", required_argument, nullptr, restart_delay},
      {"never-return", no_argument, nullptr, never_return},
      {"save-image", required_argument, nullptr, save_image_path},
      {"user", required_argument, nullptr, user},
      {"password", required_argument, nullptr, password},
      {"realm", required_argument, nullptr, realm},
      {"qop", required_argument, nullptr, qop},
      {"algorithm", required_argument, nullptr, algorithm},
      {"algorithm-unquoted", no_argument, nullptr, algorithm_unquoted},
      {"opaque", required_argument, nullptr, opaque},
      {"nonce-lifetime", required_argument, nullptr, nonce_lifetime},
      {"nonce-uses", required_argument, nullptr, nonce_uses},
      {"no-answer", no_argument, nullptr, no_answer},
      {"close-without-response", no_argument, nullptr, close_without_response},
      {"page-size", required_argument, nullptr, page_size},
      {"no-challenge", no_argument, nullptr, no_challenge},
      {"http10", no_argument, nullptr, http10},
      {"tftp-timeout", required_argument, nullptr, tftp_timeout},
      {"tftp-retries", required_argument, nullptr, tftp_retries},
      {"ack-fault", required_argument, nullptr, ack_fault},
      {"match-any-serial", no_argument, nullptr, match_any_serial},
      {"rrq-to", required_argument, nullptr, rrq_to},
      {"reply-fault", required_argument, nullptr, reply_fault},
      {"no-start-reply", no_argument, nullptr, no_start_reply},
      {"lenient", optional_argument, nullptr, lenient},
      {"page-variant", required_argument, nullptr, page_variant},
      {"omit-label", required_argument, nullptr, omit_label},
      {"keep-nonce", no_argument, nullptr, keep_nonce},
      {"hold-upgrade-connection", no_argument, nullptr, hold_upgrade_connection},
      {"max-connections", required_argument, nullptr, max_connections},
      {"rrq-no-options", no_argument, nullptr, rrq_no_options},
      {"rrq-mode", required_argument, nullptr, rrq_mode},
      {"rrq-swap-case", no_argument, nullptr, rrq_swap_case},
      {"rrq-wrong-name-first", required_argument, nullptr, rrq_wrong_name_first},
      {"rrq-packets-before", required_argument, nullptr, rrq_packets_before},
      {"help", no_argument, nullptr, help},
      {nullptr, 0, nullptr, 0},
  };

  sim::DeviceConfig config;
  std::string save_path;
  int chosen;
  while ((chosen = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (chosen) {
      case address:
        if (!sim::parse_ipv4(value)) usage_error("bad address \"" + value + "\"");
        config.address = value;
        break;
      case web_port:
        config.web_port = static_cast<std::uint16_t>(parse_number("--web-port", value, 65535));
        break;
      case recovery:
        config.start_in_recovery = true;
        break;
      case product_name:
        config.identity.product_name = value;
        break;
      case mac:
        if (!parse_mac(value, &config.identity.mac))
          usage_error("bad MAC address \"" + value + "\"");
        break;
      case software_version:
        config.identity.software_version = value;
        break;
      case hardware_version:
        config.identity.hardware_version = value;
        break;
      case serial:
        config.identity.serial_number = value;
        break;
      case restart_delay:
        config.restart_delay_ms =
            static_cast<std::uint32_t>(parse_number("--restart-delay", value, 86400000));
        break;
      case never_return:
        config.never_returns = true;
        break;
      case save_image_path:
        save_path = value;
        break;
      case user:
        config.auth.user = value;
        break;
      case password:
        config.auth.password = value;
        break;
      case realm:
        config.auth.realm = value;
        break;
      case qop:
        if (value == "none")
          config.auth.qop = sim::DigestQop::none;
        else if (value == "auth")
          config.auth.qop = sim::DigestQop::auth;
        else if (value == "auth-int")
          config.auth.qop = sim::DigestQop::auth_int;
        else if (value == "auth,auth-int")
          config.auth.qop = sim::DigestQop::auth_list;
        else
          usage_error("unknown qop \"" + value + "\"");
        break;
      case algorithm:
        if (value == "none")
          config.auth.algorithm = sim::DigestAlgorithm::none;
        else if (value == "MD5")
          config.auth.algorithm = sim::DigestAlgorithm::md5;
        else if (value == "MD5-sess")
          config.auth.algorithm = sim::DigestAlgorithm::md5_sess;
        else
          usage_error("unknown algorithm \"" + value + "\"");
        break;
      case algorithm_unquoted:
        config.auth.quote_algorithm = false;
        break;
      case opaque:
        config.auth.opaque = value;
        break;
      case nonce_lifetime:
        config.auth.nonce_lifetime_ms =
            static_cast<std::uint32_t>(parse_number("--nonce-lifetime", value, 86400000));
        break;
      case nonce_uses:
        config.auth.nonce_max_uses =
            static_cast<std::uint32_t>(parse_number("--nonce-uses", value, 1000000));
        break;
      case no_answer:
        config.web_faults.no_answer = true;
        break;
      case close_without_response:
        config.web_faults.close_without_response = true;
        break;
      case page_size:
        config.web_faults.page_size = parse_number("--page-size", value, 64u << 20);
        break;
      case no_challenge:
        config.web_faults.unauthorized_without_challenge = true;
        break;
      case http10:
        config.web_faults.http10_status_line = true;
        break;
      case tftp_timeout:
        config.tftp.timeout_ms =
            static_cast<std::uint32_t>(parse_number("--tftp-timeout", value, 600000));
        break;
      case tftp_retries:
        config.tftp.retries =
            static_cast<std::uint32_t>(parse_number("--tftp-retries", value, 1000));
        break;
      case ack_fault: {
        const std::size_t colon = value.find(':');
        if (colon == std::string::npos) usage_error("--ack-fault wants BLOCK:KIND");
        const auto block =
            static_cast<std::uint32_t>(parse_number("--ack-fault", value.substr(0, colon), 65535));
        config.tftp.ack_faults[block] = parse_ack_kind(value.substr(colon + 1));
        break;
      }
      case match_any_serial:
        config.recovery.match_any_serial = true;
        break;
      case rrq_to:
        if (value == "group")
          config.recovery.read_request_target = sim::RecoveryRequestTarget::group;
        else if (value == "requester")
          config.recovery.read_request_target = sim::RecoveryRequestTarget::requester;
        else
          usage_error("--rrq-to wants group or requester");
        break;
      case reply_fault:
        if (value == "none")
          config.recovery.reply_fault = sim::RecoveryReplyFault::none;
        else if (value == "silent")
          config.recovery.reply_fault = sim::RecoveryReplyFault::silent;
        else if (value == "short")
          config.recovery.reply_fault = sim::RecoveryReplyFault::short_reply;
        else if (value == "long")
          config.recovery.reply_fault = sim::RecoveryReplyFault::long_reply;
        else if (value == "zero-address")
          config.recovery.reply_fault = sim::RecoveryReplyFault::zero_address;
        else
          usage_error("unknown reply fault \"" + value + "\"");
        break;
      case no_start_reply:
        config.recovery.answer_start_requests = false;
        break;
      case lenient:
        if (optarg == nullptr) {
          config.lenient = sim::Leniency::all();
        } else {
          for (const std::string& point : split_list(value)) set_lenient(point, &config.lenient);
        }
        break;
      case page_variant:
        if (value == "normal")
          config.web_faults.page_variant = sim::PageVariant::normal;
        else if (value == "label-missing")
          config.web_faults.page_variant = sim::PageVariant::label_missing;
        else if (value == "line-break")
          config.web_faults.page_variant = sim::PageVariant::line_break_between_tags;
        else if (value == "empty-cell")
          config.web_faults.page_variant = sim::PageVariant::empty_cell_before_value;
        else if (value == "no-labels")
          config.web_faults.page_variant = sim::PageVariant::no_labels;
        else
          usage_error("unknown page variant \"" + value + "\"");
        break;
      case omit_label:
        config.web_faults.omitted_label = value;
        break;
      case keep_nonce:
        config.auth.keep_nonce_across_restart = true;
        break;
      case hold_upgrade_connection:
        config.web_faults.hold_upgrade_connection = true;
        break;
      case max_connections:
        config.max_connections = parse_number("--max-connections", value, 1024);
        if (config.max_connections == 0) usage_error("--max-connections wants at least 1");
        break;
      case rrq_no_options:
        config.tftp.read_request.options = false;
        break;
      case rrq_mode:
        config.tftp.read_request.mode = value;
        break;
      case rrq_swap_case:
        config.tftp.read_request.swap_name_case = true;
        break;
      case rrq_wrong_name_first:
        config.tftp.read_request.wrong_name_first = value;
        break;
      case rrq_packets_before:
        for (const std::string& kind : split_list(value)) {
          if (kind == "wrq")
            config.tftp.read_request.opcodes_before.push_back(2);
          else if (kind == "data")
            config.tftp.read_request.opcodes_before.push_back(3);
          else if (kind == "ack")
            config.tftp.read_request.opcodes_before.push_back(4);
          else if (kind == "error")
            config.tftp.read_request.opcodes_before.push_back(5);
          else
            usage_error("unknown packet \"" + kind + "\" for --rrq-packets-before");
        }
        break;
      case help:
        std::cout << kUsage;
        return 0;
      default:
        usage_error("unknown option");
    }
  }
  if (optind < argc) usage_error(std::string("unexpected argument \"") + argv[optind] + "\"");

  config.log = print_line;
  if (!save_path.empty()) {
    config.on_image_received = [save_path](const std::vector<std::uint8_t>& image) {
      save_image(save_path, image);
    };
  }

  // The signals are taken by sigwait below; block them before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  sim::Device device(config);
  std::string error;
  if (!device.start(&error)) {
    std::cerr << "vxt-device-sim: " << error << "\n";
    return 1;
  }
  int received = 0;
  sigwait(&signals, &received);
  print_line(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
  device.stop();
  return 0;
}
