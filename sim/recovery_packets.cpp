#include "sim/recovery_packets.h"

#include <cstring>

namespace sim {
namespace {

constexpr std::size_t kSerialOffset = 8;
constexpr std::size_t kTextField = 20;
constexpr std::size_t kPortOffset = 28;
constexpr std::size_t kFileNameOffset = 32;
constexpr std::size_t kFileNameField = 128;

std::string text_field(const std::uint8_t* field, std::size_t size) {
  std::size_t length = 0;
  while (length < size && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

void put_text_field(std::vector<std::uint8_t>& reply, std::size_t offset, const std::string& text) {
  // A text that fills the field leaves no terminator, as the loader's fixed fields do.
  std::memcpy(reply.data() + offset, text.data(),
              text.size() < kTextField ? text.size() : kTextField);
}

}  // namespace

std::optional<RecoveryRequest> parse_recovery_request(const std::uint8_t* bytes, std::size_t size) {
  if (size != kRecoveryRequestSize || std::memcmp(bytes + 4, "RECM", 4) != 0) return std::nullopt;
  RecoveryRequest request;
  request.type = bytes[0];
  request.serial = text_field(bytes + kSerialOffset, kTextField);
  if (request.type == static_cast<std::uint8_t>(RecoveryRequestType::start)) {
    request.tftp_port =
        static_cast<std::uint16_t>(bytes[kPortOffset] << 8 | bytes[kPortOffset + 1]);
    if (std::memchr(bytes + kFileNameOffset, 0, kFileNameField) == nullptr) return std::nullopt;
    request.file_name = text_field(bytes + kFileNameOffset, kFileNameField);
  }
  return request;
}

std::vector<std::uint8_t> build_recovery_reply(const DeviceIdentity& identity,
                                               std::uint32_t address, RecoveryReplyFault fault) {
  std::vector<std::uint8_t> reply(kRecoveryReplySize, 0);
  reply[0] = 1;  // the loader's own type for a reply; the PC does not read the first 8 bytes
  std::memcpy(reply.data() + 4, "RECM", 4);
  put_text_field(reply, 8, identity.serial_number);
  put_text_field(reply, 28, identity.product_name);
  std::memcpy(reply.data() + 48, identity.mac.data(), identity.mac.size());
  put_text_field(reply, 54, identity.software_version);
  put_text_field(reply, 74, identity.hardware_version);
  if (fault != RecoveryReplyFault::zero_address) {
    reply[94] = static_cast<std::uint8_t>(address >> 24);
    reply[95] = static_cast<std::uint8_t>(address >> 16);
    reply[96] = static_cast<std::uint8_t>(address >> 8);
    reply[97] = static_cast<std::uint8_t>(address);
  }
  if (fault == RecoveryReplyFault::short_reply) reply.resize(kRecoveryReplySize - 1);
  if (fault == RecoveryReplyFault::long_reply) reply.push_back(0);
  return reply;
}

}  // namespace sim
