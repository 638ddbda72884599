// The recovery loader's datagrams: the 160-byte requests it answers and its 100-byte reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_config.h"

namespace sim {

constexpr std::size_t kRecoveryRequestSize = 160;
constexpr std::size_t kRecoveryReplySize = 100;
constexpr std::uint16_t kRecoveryPcPort = 4811;  // the PC's side: requests come from it

enum class RecoveryRequestType : std::uint8_t { search = 0, start = 2 };

struct RecoveryRequest {
  std::uint8_t type = 0;
  std::string serial;  // up to its first zero byte, at most 20 characters
  std::uint16_t tftp_port = 0;
  std::string file_name;  // up to its first zero byte; a start request needs one
};

// Nothing unless the datagram is exactly 160 bytes with "RECM" at offset 4 and, for a start
// request, a terminated file name.
std::optional<RecoveryRequest> parse_recovery_request(const std::uint8_t* bytes, std::size_t size);

// The reply: serial, product name, MAC, software and hardware version and the IPv4 address
// (network order at offset 94). The faults make it 99 or 101 bytes or zero the address.
std::vector<std::uint8_t> build_recovery_reply(const DeviceIdentity& identity,
                                               std::uint32_t address, RecoveryReplyFault fault);

}  // namespace sim
