// TFTP packets as a client sees them (RFC 1350, with the option acknowledgement of RFC 2347).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

constexpr std::size_t kTftpBlockSize = 512;

enum class TftpOpcode : std::uint16_t { rrq = 1, wrq = 2, data = 3, ack = 4, error = 5, oack = 6 };

// A read request (or, with opcode wrq, a write request) naming the file, the mode and options.
std::vector<std::uint8_t> make_read_request(
    const std::string& file_name, const std::vector<std::pair<std::string, std::string>>& options,
    const std::string& mode = "octet", TftpOpcode opcode = TftpOpcode::rrq);
std::vector<std::uint8_t> make_ack(std::uint16_t block);
std::vector<std::uint8_t> make_error(std::uint16_t code, const std::string& message);

struct TftpServerPacket {
  TftpOpcode opcode = TftpOpcode::data;
  std::uint16_t block = 0;      // DATA
  std::size_t data_offset = 0;  // DATA: where its bytes start in the datagram
  std::size_t data_size = 0;    // DATA: 0 to 512
  // OACK: in wire order, names as sent.
  std::vector<std::pair<std::string, std::string>> options;
  std::uint16_t error_code = 0;  // ERROR
  std::string error_message;     // ERROR
};

// Reads what a server may send (DATA, OACK, ERROR); nothing for other opcodes and malformed
// packets (a DATA longer than a block, an OACK whose strings are not all terminated or that
// names an option twice in any letter case, ...).
std::optional<TftpServerPacket> parse_server_packet(const std::uint8_t* bytes, std::size_t size);

}  // namespace sim
