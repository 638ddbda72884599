#include "tftp/tftp_packets.h"

#include <cstdio>
#include <cstring>

namespace vxt {

void put_be16(unsigned char* buffer, std::uint32_t value) {
  buffer[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
  buffer[1] = static_cast<unsigned char>(value & 0xFF);
}

std::uint16_t get_be16(const unsigned char* buffer) {
  return static_cast<std::uint16_t>((buffer[0] << 8) | buffer[1]);
}

void make_ipv4_endpoint(std::uint32_t address, std::uint16_t port, Ipv4Endpoint* endpoint) {
  endpoint->address = host_to_network_32(address);
  endpoint->port = host_to_network_16(port);
}

void split_ipv4_endpoint(const Ipv4Endpoint& endpoint, std::uint32_t* address,
                         std::uint16_t* port) {
  *address = network_to_host_32(endpoint.address);
  *port = network_to_host_16(endpoint.port);
}

int build_option_ack(unsigned char* packet, std::uint32_t image_size) {
  put_be16(packet, tftp_option_ack);
  int at = 2;
  std::memcpy(packet + at, "tsize", 6);
  at += 6;
  char digits[11];
  const int n = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(image_size));
  std::memcpy(packet + at, digits, static_cast<std::size_t>(n) + 1);
  at += n + 1;
  std::memcpy(packet + at, "timeout", 8);
  at += 8;
  std::memcpy(packet + at, "5", 2);
  return at + 2;
}

int build_data_block(unsigned char* packet, const unsigned char* data, int length,
                     std::uint32_t block) {
  put_be16(packet, tftp_data);
  put_be16(packet + 2, block);
  if (length > 0) std::memcpy(packet + 4, data, static_cast<std::size_t>(length));
  return length + 4;
}

bool is_read_request_for(const unsigned char* packet, int length, const char* file_name) {
  if (length < 2 || get_be16(packet) != tftp_read_request) return false;
  const void* end = std::memchr(packet + 2, '\0', static_cast<std::size_t>(length - 2));
  if (end == nullptr) return false;
  return std::strcmp(reinterpret_cast<const char*>(packet + 2), file_name) == 0;
}

SessionDatagram classify_session_datagram(int received, const unsigned char* packet,
                                          const Ipv4Endpoint& source, const Ipv4Endpoint& peer,
                                          std::uint32_t current_block) {
  if (received <= 0) return SessionDatagram::nothing;
  if (source.address != peer.address || source.port != peer.port) {
    return SessionDatagram::foreign_source;
  }
  // Fewer than 4 bytes carry no block number to compare.
  if (received < 4 || get_be16(packet) != tftp_acknowledgement) return SessionDatagram::not_an_ack;
  // Compared with all 32 bits: block numbers are never wrapped.
  if (get_be16(packet + 2) != current_block) return SessionDatagram::other_block_ack;
  return SessionDatagram::expected_ack;
}

}  // namespace vxt
