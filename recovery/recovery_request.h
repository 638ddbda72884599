// The two requests the PC sends to the recovery group: the search by serial number and the
// start request that names the TFTP listener's port and the file to fetch.
#pragma once

#include <cstdint>

namespace vxt {

constexpr int recovery_request_size = 160;
constexpr std::uint8_t recovery_search_type = 0;
constexpr std::uint8_t recovery_start_type = 2;

// The layout on the wire, byte for byte. Reserved bytes are left zero by the builders.
struct RecoveryRequest {
  std::uint8_t type;
  std::uint8_t reserved1[3];
  std::uint8_t magic[4];      // "RECM", written by recovery_exchange on its own copy
  char serial[20];            // at most 19 characters and zero bytes up to the end
  std::uint8_t tftp_port[2];  // start request: high byte first
  std::uint8_t reserved2[2];
  char file_name[128];  // start request: at most 127 characters and zero bytes up to the end
};
static_assert(sizeof(RecoveryRequest) == recovery_request_size, "the request is 160 bytes");

// type 0 and the serial (cut to 19 characters); everything else zero.
RecoveryRequest make_search_request(const char* serial);
// type 2, the serial, the port high byte first, the file name (cut to 127 characters).
RecoveryRequest make_start_request(const char* serial, std::uint16_t tftp_port,
                                   const char* file_name);

}  // namespace vxt
