// The PC's end of the recovery protocol: one process-wide UDP socket on port 4811, member of
// the group 234.4.8.10, and the exchange that sends a request and waits for a 100-byte reply.
#pragma once

#include <cstdint>

#include "core/session_state.h"
#include "platform/socket.h"
#include "recovery/recovery_request.h"

namespace vxt {

constexpr const char* recovery_group_text = "234.4.8.10";
constexpr std::uint32_t recovery_group = 0xEA04080A;  // 234.4.8.10
constexpr std::uint16_t recovery_device_port = 4810;
constexpr std::uint16_t recovery_local_port = 4811;

// Sends a copy of `request` with "RECM" written in, up to 5 times; after each send polls 5
// times, 500 ms apart, for a datagram of exactly 100 bytes. True when one arrived (it is then
// in `reply`). Sets the socket up on the first call, on `local_address`; later calls ignore
// the address. Set-up failures and failed sends show their message windows and wait for them.
bool recovery_exchange(const RecoveryRequest& request, unsigned char (&reply)[recovery_reply_size],
                       std::uint32_t local_address);

// Stops reception and closes the socket; nothing when none was opened. It is not reopened.
void close_recovery_socket();

// One read without blocking: true only for a datagram of exactly 100 bytes. A longer one is
// consumed and is a miss, though its first bytes may have landed in `reply`.
bool take_recovery_reply(Socket s, unsigned char (&reply)[recovery_reply_size]);

}  // namespace vxt
