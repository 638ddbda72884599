// One HTTP/1.1 GET against the device's web server on a fresh TCP connection: the local port
// scan, the exact request, reading until the device closes, the refusal test and the device
// information taken from the page.
#pragma once

#include <cstdint>

#include "platform/socket.h"
#include "web/digest_state.h"

namespace vxt {

// The one address every request names in its Host line, whatever the device.
constexpr const char* host_line_address = "192.168.1.1";

// Local ports tried: base, base + 1, ..., base + local_port_span - 1.
constexpr int local_port_span = 101;

// A connected TCP socket from local_address and the first local port from local_port_base
// that binds. Reports the failure and ends the process when none can be had.
Socket connect_device(std::uint32_t local_address, std::uint16_t local_port_base,
                      std::uint32_t device_address, std::uint16_t device_port);

// Sends GET path (with the Authorization line once a password is known) and reads the answer
// into buffer, at most capacity bytes, zero-terminated (buffer holds capacity + 1 bytes).
// Returns -1 when the device demanded credentials (its challenge is then in session.digest),
// otherwise the bytes received; fills session.device_info from a page that brought data.
// Ends the process when no connection can be made.
std::int32_t http_get(std::uint32_t local_address, std::uint16_t local_port_base,
                      std::uint32_t device_address, std::uint16_t device_port, const char* path,
                      char* buffer, std::int32_t capacity);

// Whether the response (text up to its first zero byte) is an HTTP/1.1 401 whose
// "WWW-Authenticate:" challenge parses; the challenge is then in digest.
bool demands_credentials(const char* response, DigestState& digest);

// The first text after the label and the tags standing directly behind it, up to the next "<",
// the end, or limit characters, copied into field (limit + 1 bytes). Leaves field untouched
// when the label does not occur or a tag is not closed.
void extract_labelled_text(const char* response, const char* label, char* field, int limit);

}  // namespace vxt
