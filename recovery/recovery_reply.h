// The 100-byte reply of a device's recovery loader and its decoding into the session.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/session_state.h"

namespace vxt {

// The layout on the wire. Text fields end at their first zero byte or at their end.
struct RecoveryReply {
  std::uint8_t head[8];  // not read
  char serial[20];
  char product_name[20];
  std::uint8_t mac[6];  // in transmission order
  char software_version[20];
  char hardware_version[20];
  std::uint8_t address[4];  // network byte order, not 4-byte aligned on the wire
  std::uint8_t tail[2];     // not read
};
static_assert(sizeof(RecoveryReply) == recovery_reply_size, "the reply is 100 bytes");

// Upper-case hexadecimal digits of `length` bytes and a terminating zero; `out` holds at least
// 2 * length + 1 bytes.
void bytes_to_hex(const std::uint8_t* bytes, std::size_t length, char* out);

// Fills device_info (texts of at most 20 characters, the MAC as 12 digits) and device_address
// from the session's recovery_reply.
void decode_recovery_reply();

}  // namespace vxt
