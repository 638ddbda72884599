// Feeds arbitrary datagrams to the exchange's reply acceptance (through a real datagram
// socket, so the truncation of a longer datagram is the kernel's) and accepted or raw reply
// bytes to decode_recovery_reply. Any overrun is ASan's; broken invariants abort.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/session_state.h"
#include "platform/socket.h"
#include "recovery/recovery_reply.h"
#include "recovery/recovery_socket.h"

namespace {

template <std::size_t N>
std::size_t require_text_within(const char (&field)[N], std::size_t most) {
  const void* end = std::memchr(field, '\0', N);
  if (end == nullptr) std::abort();
  const std::size_t length = static_cast<const char*>(end) - field;
  if (length > most) std::abort();
  return length;
}

// The decoded texts are the reply's fields up to their first zero, at most 20 bytes.
void require_decoded(const unsigned char (&reply)[vxt::recovery_reply_size]) {
  using vxt::session;
  const vxt::DeviceInfo& d = session.device_info;
  const struct {
    const char* text;
    std::size_t length;
    int offset;
  } fields[] = {
      {d.serial_number, require_text_within(d.serial_number, 20), 8},
      {d.product_name, require_text_within(d.product_name, 20), 28},
      {d.software_version, require_text_within(d.software_version, 20), 54},
      {d.hardware_version, require_text_within(d.hardware_version, 20), 74},
  };
  for (const auto& f : fields) {
    if (std::memcmp(f.text, reply + f.offset, f.length) != 0) std::abort();
    if (f.length < 20 && reply[f.offset + f.length] != 0) std::abort();
  }
  if (require_text_within(d.mac_address, 12) != 12) std::abort();
  for (int i = 0; i < 12; ++i) {
    const char c = d.mac_address[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) std::abort();
  }
  const std::uint32_t address = static_cast<std::uint32_t>(reply[94]) << 24 |
                                static_cast<std::uint32_t>(reply[95]) << 16 |
                                static_cast<std::uint32_t>(reply[96]) << 8 | reply[97];
  if (session.device_address != address) std::abort();
}

int pair[2] = {-1, -1};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (pair[0] < 0) {
    if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0) std::abort();
    int room = 1 << 20;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (!vxt::socket_set_non_blocking(pair[1])) std::abort();
  }
  if (::send(pair[0], data, size, 0) != static_cast<ssize_t>(size)) return 0;

  unsigned char(&reply)[vxt::recovery_reply_size] = vxt::session.recovery_reply;
  std::memset(reply, 0, sizeof reply);
  const bool accepted = vxt::take_recovery_reply(pair[1], reply);
  if (accepted != (size == vxt::recovery_reply_size)) std::abort();
  if (accepted && std::memcmp(reply, data, size) != 0) std::abort();
  unsigned char rest[1];
  if (vxt::take_recovery_reply(pair[1], reply) ||
      ::recv(pair[1], rest, sizeof rest, MSG_DONTWAIT) >= 0)
    std::abort();  // the datagram was consumed whole

  // Whatever the first 100 bytes are (zero-padded when shorter), decoding stays in bounds.
  std::memset(reply, 0, sizeof reply);
  std::memcpy(reply, data, size < sizeof reply ? size : sizeof reply);
  vxt::decode_recovery_reply();
  require_decoded(reply);
  return 0;
}
