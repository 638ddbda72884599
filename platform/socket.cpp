#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <cstring>

namespace vxt {

namespace {

// Kept per thread so that a later successful library call cannot hide the cause.
thread_local int last_error = 0;

int fail() {
  last_error = errno;
  return -1;
}

bool fail_bool() {
  last_error = errno;
  return false;
}

bool fail_with(int error) {
  errno = error;
  return fail_bool();
}

int fail_count(int error) {
  errno = error;
  return fail();
}

sockaddr_in make_endpoint(std::uint32_t address, std::uint16_t port) {
  sockaddr_in endpoint;
  std::memset(&endpoint, 0, sizeof endpoint);
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address);
  endpoint.sin_port = htons(port);
  return endpoint;
}

in_addr make_in_addr(std::uint32_t address) {
  in_addr result;
  result.s_addr = htonl(address);
  return result;
}

Socket make_socket(int type) {
  const Socket s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (s < 0) {
    last_error = errno;
    return invalid_socket;
  }
  return s;
}

// A connect interrupted by a signal goes on in the background; wait for its outcome.
bool finish_interrupted_connect(Socket s) {
  pollfd waiting{s, POLLOUT, 0};
  for (;;) {
    const int ready = ::poll(&waiting, 1, -1);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) return fail_bool();
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail_bool();
  if (error != 0) return fail_with(error);
  return true;
}

}  // namespace

bool socket_layer_start() {
  // A send to a TCP peer that has gone must fail, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

Socket tcp_socket() { return make_socket(SOCK_STREAM); }

Socket udp_socket() { return make_socket(SOCK_DGRAM); }

bool socket_bind(Socket s, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in endpoint = make_endpoint(address, port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0) {
    return fail_bool();
  }
  return true;
}

bool socket_allow_address_reuse(Socket s) {
  const int on = 1;
  if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail_bool();
  return true;
}

bool socket_set_non_blocking(Socket s) {
  const int flags = ::fcntl(s, F_GETFL);
  if (flags < 0) return fail_bool();
  if (::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return fail_bool();
  return true;
}

bool socket_join_group(Socket s, std::uint32_t group, std::uint32_t interface_address) {
  ip_mreq membership;
  std::memset(&membership, 0, sizeof membership);
  membership.imr_multiaddr = make_in_addr(group);
  membership.imr_interface = make_in_addr(interface_address);
  if (::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    return fail_bool();
  }
  return true;
}

bool socket_set_multicast_interface(Socket s, std::uint32_t interface_address) {
  const in_addr outgoing = make_in_addr(interface_address);
  if (::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0) {
    return fail_bool();
  }
  return true;
}

bool socket_connect(Socket s, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in endpoint = make_endpoint(address, port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) == 0) {
    return true;
  }
  if (errno == EINTR) return finish_interrupted_connect(s);
  return fail_bool();
}

int socket_send(Socket s, const void* data, int length) {
  if (length < 0) return fail_count(EINVAL);
  for (;;) {
    const ssize_t sent = ::send(s, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno != EINTR) return fail();
  }
}

int socket_receive(Socket s, void* buffer, int capacity) {
  // With no room, 0 would read as "peer closed".
  if (capacity <= 0) return fail_count(EINVAL);
  for (;;) {
    const ssize_t received = ::recv(s, buffer, static_cast<std::size_t>(capacity), 0);
    if (received >= 0) return static_cast<int>(received);
    if (errno != EINTR) return fail();
  }
}

int socket_send_to(Socket s, const void* data, int length, std::uint32_t address,
                   std::uint16_t port) {
  if (length < 0) return fail_count(EINVAL);
  const sockaddr_in endpoint = make_endpoint(address, port);
  for (;;) {
    const ssize_t sent = ::sendto(s, data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno != EINTR) return fail();
  }
}

int socket_receive_from(Socket s, void* buffer, int capacity, std::uint32_t* from_address,
                        std::uint16_t* from_port) {
  if (capacity < 0) return fail_count(EINVAL);
  sockaddr_in source;
  std::memset(&source, 0, sizeof source);
  iovec part{buffer, static_cast<std::size_t>(capacity)};
  msghdr message;
  std::memset(&message, 0, sizeof message);
  for (;;) {
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_flags = 0;
    const ssize_t received = ::recvmsg(s, &message, 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    // The rest of a longer datagram is gone; a cut one must not pass for a whole one.
    if ((message.msg_flags & MSG_TRUNC) != 0) return fail_count(EMSGSIZE);
    const bool known_source = message.msg_namelen >= sizeof source && source.sin_family == AF_INET;
    if (from_address != nullptr) *from_address = known_source ? ntohl(source.sin_addr.s_addr) : 0;
    if (from_port != nullptr) *from_port = known_source ? ntohs(source.sin_port) : 0;
    return static_cast<int>(received);
  }
}

bool socket_wait_readable(Socket s, int max_ms) {
  pollfd waiting{s, POLLIN, 0};
  const int ready = ::poll(&waiting, 1, max_ms < 0 ? 0 : max_ms);
  if (ready < 0) return fail_bool();  // EINTR included: the caller polls again anyway
  return ready > 0;
}

bool socket_wait_readable_us(Socket s, long max_us) {
  pollfd waiting{s, POLLIN, 0};
  const long us = max_us < 0 ? 0 : max_us;
  const timespec limit{us / 1000000, (us % 1000000) * 1000};
  const int ready = ::ppoll(&waiting, 1, &limit, nullptr);
  if (ready < 0) return fail_bool();
  return ready > 0;
}

std::uint32_t host_to_network_32(std::uint32_t value) { return htonl(value); }
std::uint16_t host_to_network_16(std::uint16_t value) { return htons(value); }
std::uint32_t network_to_host_32(std::uint32_t value) { return ntohl(value); }
std::uint16_t network_to_host_16(std::uint16_t value) { return ntohs(value); }

int socket_send_to_endpoint(Socket s, const void* data, int length, const Ipv4Endpoint& to) {
  return socket_send_to(s, data, length, ntohl(to.address), ntohs(to.port));
}

int socket_receive_from_endpoint(Socket s, void* buffer, int capacity, Ipv4Endpoint* from) {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  const int received = socket_receive_from(s, buffer, capacity, &address, &port);
  if (received >= 0 && from != nullptr) {
    from->address = htonl(address);
    from->port = htons(port);
  }
  return received;
}

void socket_shutdown_receive(Socket s) {
  if (::shutdown(s, SHUT_RD) != 0) last_error = errno;
}

void socket_close(Socket s) {
  // Not retried on EINTR: on Linux the descriptor is gone either way.
  if (::close(s) != 0) last_error = errno;
}

int socket_last_error() { return last_error; }

std::uint16_t socket_local_port(Socket s) {
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  socklen_t length = sizeof local;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    last_error = errno;
    return 0;
  }
  if (length < sizeof local || local.sin_family != AF_INET) return 0;
  return ntohs(local.sin_port);
}

bool dotted_to_address(const char* text, std::uint32_t* address) {
  if (text == nullptr) return false;
  in_addr parsed;
  if (::inet_pton(AF_INET, text, &parsed) != 1) return false;
  if (address != nullptr) *address = ntohl(parsed.s_addr);
  return true;
}

}  // namespace vxt
