#include "web/http_exchange.h"

#include <cstdio>
#include <cstring>

#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/text.h"
#include "platform/process.h"
#include "web/digest.h"
#include "web/request_handover.h"

namespace vxt {
namespace {

[[noreturn]] void fail(const char* message) {
  report_failure(message);
  end_process(0);
}

constexpr int device_text_limit = 127;

}  // namespace

Socket connect_device(std::uint32_t local_address, std::uint16_t local_port_base,
                      std::uint32_t device_address, std::uint16_t device_port) {
  const Socket s = tcp_socket();
  if (s == invalid_socket) fail("Upgrade Failed: Can't open HTTP socket");
  bool bound = false;
  for (int i = 0; i < local_port_span && !bound; ++i) {
    // Any failure, whatever its cause, moves on to the next port.
    bound = socket_bind(s, local_address, static_cast<std::uint16_t>(local_port_base + i));
  }
  if (!bound) fail("Upgrade Failed: Can't bind HTTP socket");
  if (!socket_connect(s, device_address, device_port)) fail("Upgrade Failed: Can't connect to VXT");
  return s;
}

std::int32_t http_get(std::uint32_t local_address, std::uint16_t local_port_base,
                      std::uint32_t device_address, std::uint16_t device_port, const char* path,
                      char* buffer, std::int32_t capacity) {
  const Socket s = connect_device(local_address, local_port_base, device_address, device_port);
  publish_exchange_socket(s);
  DigestState& digest = session.digest;

  // The buffer holds capacity bytes and a terminator, far more than any request head.
  const std::size_t room = static_cast<std::size_t>(capacity) + 1;
  int length =
      std::snprintf(buffer, room, "GET %s HTTP/1.1\r\nHost: %s\r\n", path, host_line_address);
  if (length < 0 || static_cast<std::size_t>(length) >= room) length = 0;
  if (digest.password[0] != '\0') {
    ++digest.nonce_count;
    copy_text(digest.uri, path);
    length += build_authorization(digest, buffer + length, room - static_cast<std::size_t>(length));
  }
  if (static_cast<std::size_t>(length) + 2 < room) {
    buffer[length++] = '\r';
    buffer[length++] = '\n';
  }
  // A failed send shows up as an empty response.
  socket_send(s, buffer, length);

  std::int32_t held = 0;
  buffer[0] = '\0';
  while (held < capacity) {
    const int n = socket_receive(s, buffer + held, capacity - held);
    if (n <= 0) break;
    held += n;
    buffer[held] = '\0';
  }

  if (held > 0 && demands_credentials(buffer, digest)) {
    if (take_back_exchange_socket(s)) socket_close(s);
    return -1;
  }
  if (held > 0) {
    DeviceInfo& info = session.device_info;
    extract_labelled_text(buffer, "Product Name:", info.product_name, device_text_limit);
    extract_labelled_text(buffer, "MAC Address:", info.mac_address, device_text_limit);
    extract_labelled_text(buffer, "Software Version:", info.software_version, device_text_limit);
    extract_labelled_text(buffer, "Hardware Version:", info.hardware_version, device_text_limit);
    extract_labelled_text(buffer, "Serial Number:", info.serial_number, device_text_limit);
  }
  if (take_back_exchange_socket(s)) socket_close(s);
  return held;
}

bool demands_credentials(const char* response, DigestState& digest) {
  if (std::strncmp(response, "HTTP/1.1", 8) != 0) return false;
  if (response[8] == '\0') return false;  // nothing behind the version
  const char* status = response + 9;
  while (*status == ' ' || *status == '\t') ++status;
  if (std::strncmp(status, "401", 3) != 0) return false;
  const char* challenge = std::strstr(status, "WWW-Authenticate:");
  if (challenge == nullptr) return false;
  return parse_challenge(challenge, digest);
}

void extract_labelled_text(const char* response, const char* label, char* field, int limit) {
  const char* found = std::strstr(response, label);
  if (found == nullptr) return;
  const char* close = std::strchr(found, '>');
  if (close == nullptr) return;
  const char* value = close + 1;
  while (*value == '<') {
    close = std::strchr(value, '>');
    if (close == nullptr) return;
    value = close + 1;
  }
  int n = 0;
  while (n < limit && value[n] != '\0' && value[n] != '<') {
    field[n] = value[n];
    ++n;
  }
  field[n] = '\0';
}

}  // namespace vxt
