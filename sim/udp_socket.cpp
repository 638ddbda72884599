#include "sim/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

void set_error(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + std::strerror(errno);
}

sockaddr_in make_endpoint(std::uint32_t address, std::uint16_t port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address);
  endpoint.sin_port = htons(port);
  return endpoint;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::optional<std::uint32_t> parse_ipv4(const std::string& text) {
  std::uint32_t address = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address = address << 8 | value;
  }
  if (at != text.size()) return std::nullopt;
  return address;
}

std::string format_ipv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xff) + "." +
         std::to_string(address >> 8 & 0xff) + "." + std::to_string(address & 0xff);
}

std::string format_endpoint(std::uint32_t address, std::uint16_t port) {
  return format_ipv4(address) + ":" + std::to_string(port);
}

UniqueFd open_udp_socket(std::uint32_t address, std::uint16_t port, bool reuse_address,
                         std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    set_error(error, "socket");
    return fd;
  }
  const int on = 1;
  if (reuse_address && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    set_error(error, "SO_REUSEADDR");
    return UniqueFd();
  }
  const sockaddr_in endpoint = make_endpoint(address, port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0) {
    set_error(error, "bind " + format_endpoint(address, port));
    return UniqueFd();
  }
  return fd;
}

std::uint16_t local_port(int fd) {
  sockaddr_in endpoint{};
  socklen_t size = sizeof endpoint;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&endpoint), &size) != 0) return 0;
  return ntohs(endpoint.sin_port);
}

bool join_multicast_group(int fd, std::uint32_t group, std::uint32_t interface_address,
                          std::string* error) {
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = htonl(group);
  membership.imr_interface.s_addr = htonl(interface_address);
  if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    set_error(error, "join " + format_ipv4(group) + " on " + format_ipv4(interface_address));
    return false;
  }
  return true;
}

bool set_multicast_interface(int fd, std::uint32_t interface_address, std::string* error) {
  in_addr address{};
  address.s_addr = htonl(interface_address);
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) != 0) {
    set_error(error, "IP_MULTICAST_IF " + format_ipv4(interface_address));
    return false;
  }
  return true;
}

bool enable_destination_info(int fd, std::string* error) {
  const int on = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
    set_error(error, "IP_PKTINFO");
    return false;
  }
  return true;
}

std::optional<Datagram> receive_datagram(int fd, std::uint8_t* buffer, std::size_t capacity) {
  sockaddr_in source{};
  iovec data{buffer, capacity};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message{};
  message.msg_name = &source;
  message.msg_namelen = sizeof source;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t received = ::recvmsg(fd, &message, MSG_DONTWAIT);
  if (received < 0) return std::nullopt;

  Datagram datagram;
  datagram.truncated = (message.msg_flags & MSG_TRUNC) != 0;
  datagram.size = static_cast<std::size_t>(received);
  datagram.source_address = ntohl(source.sin_addr.s_addr);
  datagram.source_port = ntohs(source.sin_port);
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(header), sizeof info);
      datagram.destination_address = ntohl(info.ipi_addr.s_addr);
    }
  }
  return datagram;
}

bool send_datagram(int fd, const std::vector<std::uint8_t>& bytes, std::uint32_t address,
                   std::uint16_t port) {
  const sockaddr_in endpoint = make_endpoint(address, port);
  const ssize_t sent = ::sendto(fd, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint);
  return sent == static_cast<ssize_t>(bytes.size());
}

Signal::Signal() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_end_.reset(ends[0]);
    write_end_.reset(ends[1]);
  }
}

void Signal::raise() {
  const char byte = 1;
  // A full pipe is already readable, so a failed write changes nothing.
  [[maybe_unused]] const ssize_t written = ::write(write_end_.get(), &byte, 1);
}

void Signal::drain() {
  char bytes[64];
  while (::read(read_end_.get(), bytes, sizeof bytes) > 0) {
  }
}

WaitResult wait_readable(const std::vector<int>& fds, int stop_fd, int timeout_ms,
                         std::size_t* which) {
  std::vector<pollfd> polled;
  polled.push_back({stop_fd, POLLIN, 0});
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});
  while (true) {
    const int ready = ::poll(polled.data(), polled.size(), timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return WaitResult::timeout;
    if (polled[0].revents != 0) return WaitResult::stopped;
    for (std::size_t i = 1; i < polled.size(); ++i) {
      if (polled[i].fd >= 0 && polled[i].revents != 0) {
        if (which != nullptr) *which = i - 1;
        return WaitResult::ready;
      }
    }
    return WaitResult::timeout;
  }
}

}  // namespace sim
