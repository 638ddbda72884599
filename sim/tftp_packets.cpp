#include "sim/tftp_packets.h"

#include <cctype>

namespace sim {
namespace {

void put_be16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
}

void put_text(std::vector<std::uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

std::uint16_t get_be16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

}  // namespace

std::vector<std::uint8_t> make_read_request(
    const std::string& file_name, const std::vector<std::pair<std::string, std::string>>& options,
    const std::string& mode, TftpOpcode opcode) {
  std::vector<std::uint8_t> bytes;
  put_be16(bytes, static_cast<std::uint16_t>(opcode));
  put_text(bytes, file_name);
  put_text(bytes, mode);
  for (const auto& option : options) {
    put_text(bytes, option.first);
    put_text(bytes, option.second);
  }
  return bytes;
}

std::vector<std::uint8_t> make_ack(std::uint16_t block) {
  std::vector<std::uint8_t> bytes;
  put_be16(bytes, static_cast<std::uint16_t>(TftpOpcode::ack));
  put_be16(bytes, block);
  return bytes;
}

std::vector<std::uint8_t> make_error(std::uint16_t code, const std::string& message) {
  std::vector<std::uint8_t> bytes;
  put_be16(bytes, static_cast<std::uint16_t>(TftpOpcode::error));
  put_be16(bytes, code);
  put_text(bytes, message);
  return bytes;
}

std::optional<TftpServerPacket> parse_server_packet(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return std::nullopt;
  TftpServerPacket packet;
  const std::uint16_t opcode = get_be16(bytes);
  switch (opcode) {
    case static_cast<std::uint16_t>(TftpOpcode::data):
      if (size < 4 || size > 4 + kTftpBlockSize) return std::nullopt;
      packet.opcode = TftpOpcode::data;
      packet.block = get_be16(bytes + 2);
      packet.data_offset = 4;
      packet.data_size = size - 4;
      return packet;
    case static_cast<std::uint16_t>(TftpOpcode::error): {
      if (size < 4) return std::nullopt;
      packet.opcode = TftpOpcode::error;
      packet.error_code = get_be16(bytes + 2);
      for (std::size_t at = 4; at < size && bytes[at] != 0; ++at) {
        packet.error_message += static_cast<char>(bytes[at]);
      }
      return packet;
    }
    case static_cast<std::uint16_t>(TftpOpcode::oack): {
      packet.opcode = TftpOpcode::oack;
      std::vector<std::string> strings;
      std::string current;
      for (std::size_t at = 2; at < size; ++at) {
        if (bytes[at] == 0) {
          strings.push_back(current);
          current.clear();
        } else {
          current += static_cast<char>(bytes[at]);
        }
      }
      if (!current.empty() || strings.size() % 2 != 0) return std::nullopt;
      const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
      };
      for (std::size_t i = 0; i < strings.size(); i += 2) {
        if (strings[i].empty()) return std::nullopt;
        for (const auto& seen : packet.options) {
          if (lower(seen.first) == lower(strings[i])) return std::nullopt;
        }
        packet.options.emplace_back(strings[i], strings[i + 1]);
      }
      return packet;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace sim
