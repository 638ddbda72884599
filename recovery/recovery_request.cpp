#include "recovery/recovery_request.h"

#include <cstring>

namespace vxt {
namespace {

// Copies at most N - 1 bytes, so the field always keeps a terminating zero.
template <std::size_t N>
void put_text(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text != nullptr) std::memcpy(field, text, strnlen(text, N - 1));
}

}  // namespace

RecoveryRequest make_search_request(const char* serial) {
  RecoveryRequest request;
  std::memset(&request, 0, sizeof request);
  request.type = recovery_search_type;
  put_text(request.serial, serial);
  return request;
}

RecoveryRequest make_start_request(const char* serial, std::uint16_t tftp_port,
                                   const char* file_name) {
  RecoveryRequest request = make_search_request(serial);
  request.type = recovery_start_type;
  request.tftp_port[0] = static_cast<std::uint8_t>(tftp_port >> 8);
  request.tftp_port[1] = static_cast<std::uint8_t>(tftp_port & 0xff);
  put_text(request.file_name, file_name);
  return request;
}

}  // namespace vxt
