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
};

struct WebFaults {
  bool no_answer = false;               // read the request, then never answer (hold the connection)
  bool close_without_response = false;  // read the request, close without a byte
  std::size_t page_size = 0;            // pad the information page body to at least this many bytes
  bool unauthorized_without_challenge = false;  // every response is a 401 with no WWW-Authenticate
  bool http10_status_line = false;              // status lines say HTTP/1.0
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

struct TftpConfig {
  std::uint32_t timeout_ms = 1000;     // silence before the last packet is sent again
  std::uint32_t retries = 5;           // resends before the transfer is given up
  std::uint32_t option_timeout_s = 5;  // the "timeout" option of the read request
  std::size_t max_image_size = 64u << 20;
  std::map<std::uint32_t, AckFault> ack_faults;  // by block number; 0 is the option acknowledgement
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
  std::function<void(const std::string&)> log;  // one line per event; may be empty
  std::function<void(const std::vector<std::uint8_t>&)>
      on_image_received;  // each stored image; may be empty
};

}  // namespace sim
