#include "recovery/recovery_reply.h"

#include <cstring>

#include "core/session_state.h"

namespace vxt {
namespace {

static_assert(sizeof(SessionState::recovery_reply) == sizeof(RecoveryReply),
              "the session keeps one whole reply");

// A field without a zero byte gives all its 20 characters and nothing of what follows it.
template <std::size_t N, std::size_t M>
void take_text(char (&out)[M], const char (&field)[N]) {
  static_assert(M > N, "the destination holds the whole field and a terminating zero");
  const std::size_t n = strnlen(field, N);
  std::memcpy(out, field, n);
  out[n] = '\0';
}

}  // namespace

void bytes_to_hex(const std::uint8_t* bytes, std::size_t length, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < length; ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 0x0f];
  }
  out[2 * length] = '\0';
}

void decode_recovery_reply() {
  RecoveryReply reply;
  std::memcpy(&reply, session.recovery_reply, sizeof reply);
  DeviceInfo& info = session.device_info;
  take_text(info.product_name, reply.product_name);
  bytes_to_hex(reply.mac, sizeof reply.mac, info.mac_address);
  take_text(info.software_version, reply.software_version);
  take_text(info.hardware_version, reply.hardware_version);
  take_text(info.serial_number, reply.serial);
  session.device_address = static_cast<std::uint32_t>(reply.address[0]) << 24 |
                           static_cast<std::uint32_t>(reply.address[1]) << 16 |
                           static_cast<std::uint32_t>(reply.address[2]) << 8 |
                           static_cast<std::uint32_t>(reply.address[3]);
}

}  // namespace vxt
