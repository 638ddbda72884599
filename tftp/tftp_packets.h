// TFTP packets as the PC's server speaks them: 16-bit big-endian fields, the option
// acknowledgement, DATA, and the checks that decide what an incoming datagram is.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace vxt {

constexpr int tftp_block_size = 512;
constexpr int tftp_receive_limit = 1024;  // longest datagram either side takes in
constexpr int tftp_max_file_name = 127;

constexpr std::uint16_t tftp_read_request = 1;
constexpr std::uint16_t tftp_data = 3;
constexpr std::uint16_t tftp_acknowledgement = 4;
constexpr std::uint16_t tftp_option_ack = 6;

// High byte first; only the low 16 bits of `value` are stored.
void put_be16(unsigned char* buffer, std::uint32_t value);
std::uint16_t get_be16(const unsigned char* buffer);

// Host-order address and port to the socket layer's endpoint and back; address 0 is any.
void make_ipv4_endpoint(std::uint32_t address, std::uint16_t port, Ipv4Endpoint* endpoint);
void split_ipv4_endpoint(const Ipv4Endpoint& endpoint, std::uint32_t* address, std::uint16_t* port);

// Bytes of the option acknowledgement for an image of `image_size` bytes: opcode 6,
// "tsize" with the size in decimal, "timeout" with 5. `packet` holds at least 29 bytes.
int build_option_ack(unsigned char* packet, std::uint32_t image_size);
// Bytes of a DATA packet: opcode 3, the low 16 bits of `block`, then `length` (0..512) bytes.
int build_data_block(unsigned char* packet, const unsigned char* data, int length,
                     std::uint32_t block);

// Whether `length` received bytes are a read request for exactly `file_name` (letter case
// included). A name without its NUL inside the datagram is no request: nothing past
// `length` is read. Mode and options are not looked at.
bool is_read_request_for(const unsigned char* packet, int length, const char* file_name);

// What the upload session makes of one receive (rules (a) to (e) of its loop).
enum class SessionDatagram {
  nothing,          // no datagram (nothing pending, an error, or an empty one)
  foreign_source,   // from another address or port than the peer's
  not_an_ack,       // from the peer, but no acknowledgement (other opcode, or too short)
  other_block_ack,  // an acknowledgement of another block: drained at once
  expected_ack,     // the acknowledgement the session waits for
};
SessionDatagram classify_session_datagram(int received, const unsigned char* packet,
                                          const Ipv4Endpoint& source, const Ipv4Endpoint& peer,
                                          std::uint32_t current_block);

}  // namespace vxt
