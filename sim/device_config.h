// Everything a simulated device can be told: who it is, how it guards its pages, and the
// faults it plays for tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct DeviceIdentity {
  std::string product_name = "VXT-200";
  std::array<std::uint8_t, 6> mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::string software_version = "1.0.0";
  std::string hardware_version = "HW-1";
  std::string serial_number = "VX0001";
};

enum class DigestQop { none, auth, auth_int, auth_list };  // auth_list offers "auth,auth-int"
enum class DigestAlgorithm { none, md5, md5_sess };

struct AuthConfig {
  std::string user = "admin";
  std::string password;  // empty: pages are served without authentication
  std::string realm = "VXT";
  DigestQop qop = DigestQop::auth;
  DigestAlgorithm algorithm = DigestAlgorithm::md5;
  bool quote_algorithm = true;          // false writes algorithm=MD5, which some clients ignore
  std::string opaque;                   // empty: no opaque in the challenge
  std::uint32_t nonce_lifetime_ms = 0;  // 0: no time limit
  std::uint32_t nonce_max_uses = 0;  // 0: no use limit; 1 makes every nonce stale after one request
  bool keep_nonce_across_restart = false;  // false: a restart forgets every nonce it issued
};

// How the information page is laid out; the wizard takes each label's value from the text
// after the label and the tags directly behind it.
enum class PageVariant {
  normal,                   // <td>Label</td><td>value</td>
  label_missing,            // the row of WebFaults::omitted_label is left out
  line_break_between_tags,  // <td>Label</td>CR LF<td>value</td>
  empty_cell_before_value,  // <td>Label</td><td></td><td>value</td>
  no_labels,                // a page that carries none of the five labels
};

struct WebFaults {
  bool no_answer = false;               // read the request, then never answer (hold the connection)
  bool close_without_response = false;  // read the request, close without a byte
  std::size_t page_size = 0;            // pad the information page body to at least this many bytes
  bool unauthorized_without_challenge = false;  // every response is a 401 with no WWW-Authenticate
  bool http10_status_line = false;              // status lines say HTTP/1.0
  PageVariant page_variant = PageVariant::normal;
  std::string omitted_label = "MAC Address:";  // the label PageVariant::label_missing leaves out
  // Answer the upgrade command, then keep its connection open until the device is back from the
  // restart and listening (or the transfer failed), so the command's exchange visibly ends
  // before any later one.
  bool hold_upgrade_connection = false;
};

// What the TFTP client does instead of the ordinary acknowledgement of one block.
enum class AckFault {
  lose,          // send nothing the first time the block arrives; acknowledge its retransmission
  duplicate,     // send the acknowledgement twice
  stale,         // send the previous block's acknowledgement first, then the right one
  foreign_port,  // send it once from another source port; acknowledge the retransmission normally
  error,         // send an ERROR packet instead and abandon the transfer
  stop,          // acknowledge nothing from this block on; the transfer times out
};

// How the device asks for the image; the default is what a real device sends.
struct ReadRequestConfig {
  bool options = true;           // false: no tsize and timeout options
  std::string mode = "octet";    // "netascii" for the variant
  bool swap_name_case = false;   // ask for the file name with its letters' case swapped
  std::string wrong_name_first;  // non-empty: ask for this name first, then the right one
  std::vector<std::uint16_t> opcodes_before;  // write request (2), DATA (3), ACK (4) or ERROR (5)
                                              // packets sent to the server before the request
};

struct TftpConfig {
  std::uint32_t timeout_ms = 1000;     // silence before the last packet is sent again
  std::uint32_t retries = 5;           // resends before the transfer is given up
  std::uint32_t option_timeout_s = 5;  // the "timeout" option of the read request
  std::size_t max_image_size = 64u << 20;
  std::map<std::uint32_t, AckFault> ack_faults;  // by block number; 0 is the option acknowledgement
  ReadRequestConfig read_request;
  // A complete transfer too short to hold an image header is kept (received_image(), the record)
  // but never flashed: no restart follows.
};

enum class RecoveryReplyFault { none, silent, short_reply, long_reply, zero_address };
enum class RecoveryRequestTarget { group, requester };

struct RecoveryConfig {
  std::string group = "234.4.8.10";
  std::uint16_t port = 4810;
  bool match_any_serial = false;
  bool answer_start_requests = true;  // a start request also gets the 100-byte reply
  RecoveryRequestTarget read_request_target = RecoveryRequestTarget::group;
  RecoveryReplyFault reply_fault = RecoveryReplyFault::none;
};

// The device is strict: it refuses what a real VXT device would not understand. Each flag turns
// one point back to the tolerance a third-party peer (curl, tftpd-hpa) needs.
struct Leniency {
  bool http_head = false;           // any well-formed HTTP/1.x head, any header lines, bare LF
  bool authorization = false;       // any RFC 2617 Authorization form (blanks, order, quoting)
  bool tftp_option_ack = false;     // DATA 1 without an option acknowledgement, options in any
                                    // order and letter case, any timeout value
  bool tftp_stop_and_wait = false;  // DATA beyond the block the device acknowledged last
  bool tftp_server_port = false;    // the server answers from any port of its address
  bool tftp_group_data = false;     // unicast DATA during a recovery
  bool zero_source = false;         // answer datagrams from 0.0.0.0
  bool recovery_requests = false;   // requests not to the group, from other ports than 4811

  static Leniency all() { return {true, true, true, true, true, true, true, true}; }
};

struct DeviceConfig {
  std::string address = "127.0.0.2";  // the device's own IPv4 address; every socket binds it
  std::uint16_t web_port = 80;        // 0 picks a free port (see Device::web_port)
  bool start_in_recovery = false;     // the image is "corrupted": recovery loader, no web server
  DeviceIdentity identity;
  AuthConfig auth;
  WebFaults web_faults;
  TftpConfig tftp;
  RecoveryConfig recovery;
  std::uint32_t restart_delay_ms = 3000;  // web server silent while the new image "flashes"
  bool never_returns = false;             // after an upload the device stays silent for good
  std::size_t max_request_size = 8192;    // longer request heads are answered with 400
  std::uint32_t request_read_timeout_ms = 5000;
  std::size_t max_connections = 16;   // web connections served at once, each on its own thread
  std::size_t record_limit = 200000;  // entries the wire record keeps; later ones are counted only
  Leniency lenient;
  std::function<void(const std::string&)> log;  // one line per event; may be empty
  std::function<void(const std::vector<std::uint8_t>&)>
      on_image_received;  // each stored image; may be empty
};

}  // namespace sim
