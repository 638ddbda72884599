// The socket layer: BSD IPv4 sockets behind plain functions.
//
// Addresses are unsigned 32-bit numbers in host byte order (first dotted part in the most
// significant byte); 0 means any local address when binding. Ports are host order too.
// Conversion to network order happens only inside this layer.
#pragma once

#include <cstdint>

namespace vxt {

using Socket = int;
constexpr Socket invalid_socket = -1;

// Starts the layer. Always succeeds on Linux; kept so callers keep their failure path.
bool socket_layer_start();

Socket tcp_socket();  // blocking IPv4 TCP socket, or invalid_socket
Socket udp_socket();  // blocking IPv4 UDP socket, or invalid_socket
bool socket_bind(Socket s, std::uint32_t address, std::uint16_t port);
// Lets a second socket bind the same address and port (SO_REUSEADDR); set before binding.
bool socket_allow_address_reuse(Socket s);
bool socket_set_non_blocking(Socket s);
// Joins the IPv4 group on the interface that has `interface_address` (0: the system chooses).
bool socket_join_group(Socket s, std::uint32_t group, std::uint32_t interface_address);
// Outgoing multicast goes through the interface that has `interface_address`.
bool socket_set_multicast_interface(Socket s, std::uint32_t interface_address);
// Blocks until connected or failed, with the system's own time-out.
bool socket_connect(Socket s, std::uint32_t address, std::uint16_t port);
// Returns the count sent, or -1.
int socket_send(Socket s, const void* data, int length);
// A count above 0, 0 when the peer has closed, -1 on an error.
int socket_receive(Socket s, void* buffer, int capacity);
// Returns the count sent, or -1.
int socket_send_to(Socket s, const void* data, int length, std::uint32_t address,
                   std::uint16_t port);
// One datagram with its source. Returns its length (1..capacity, or 0 for an empty one), or
// -1 when nothing was pending or on an error. A datagram longer than `capacity` is an error
// (-1, last error EMSGSIZE): it is never reported as one that exactly fills the buffer.
// from_address/from_port may be null.
int socket_receive_from(Socket s, void* buffer, int capacity, std::uint32_t* from_address,
                        std::uint16_t* from_port);
// Waits at most `max_ms` for a datagram (or anything else to read) on the socket; returns at
// once when one is already pending. True when the socket is readable. Polls of a non-blocking
// socket use it instead of a plain sleep, so what arrives is taken without delay.
bool socket_wait_readable(Socket s, int max_ms);
// The same with a limit in microseconds.
bool socket_wait_readable_us(Socket s, long max_us);

// An IPv4 endpoint as the socket layer holds it: address and port in network byte order.
struct Ipv4Endpoint {
  std::uint32_t address;
  std::uint16_t port;
};
std::uint32_t host_to_network_32(std::uint32_t value);
std::uint16_t host_to_network_16(std::uint16_t value);
std::uint32_t network_to_host_32(std::uint32_t value);
std::uint16_t network_to_host_16(std::uint16_t value);
// As socket_send_to and socket_receive_from, with the endpoint in network order.
int socket_send_to_endpoint(Socket s, const void* data, int length, const Ipv4Endpoint& to);
int socket_receive_from_endpoint(Socket s, void* buffer, int capacity, Ipv4Endpoint* from);

void socket_shutdown_receive(Socket s);
void socket_close(Socket s);
// The error number of the calling thread's last failed call.
int socket_last_error();
// The bound local port of a socket, or 0.
std::uint16_t socket_local_port(Socket s);

// Dotted text to a host-order address; false for anything inet_pton refuses.
bool dotted_to_address(const char* text, std::uint32_t* address);

}  // namespace vxt
