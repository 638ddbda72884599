// What the device's web server answers to one request: the routing, the Digest check and the
// web faults, without any socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/device_config.h"
#include "sim/digest_auth.h"

namespace sim {

struct UpgradeCommand {
  std::uint32_t server_address = 0;
  std::uint16_t server_port = 0;
  std::string file_name;  // with its leading slash, as the read request names it
};

// "/admin/upgrade?tftp://A.B.C.D:PORT/NAME"; nothing when malformed.
std::optional<UpgradeCommand> parse_upgrade_target(const std::string& target);

struct WebReply {
  enum class Action { respond, close_silently, hold };
  Action action = Action::respond;
  int status = 0;
  std::string bytes;                      // the whole response
  std::string summary;                    // for the log line
  std::string rule;                       // the strict rule the request broke, if refused for it
  std::optional<UpgradeCommand> upgrade;  // start this download once the response is out
};

class WebResponder {
 public:
  explicit WebResponder(const DeviceConfig& config, DigestAuthenticator::Clock clock = {});

  // head: the request head received (complete, or cut at the size limit when too_long).
  // busy: a download or restart is already under way.
  WebReply respond(const std::string& head, bool too_long, const DeviceIdentity& identity,
                   bool busy);

 private:
  WebReply response(int status, const std::string& reason, const std::string& body,
                    const std::string& extra_headers = "") const;

  const DeviceConfig& config_;
  DigestAuthenticator authenticator_;
};

}  // namespace sim
