// Small wrappers over POSIX sockets for the simulated device: IPv4 text, UDP sockets with group
// membership, datagrams with their source and destination, and waiting that a stop can interrupt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// An owned file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// IPv4 addresses are host-order numbers, first dotted part in the top byte.
std::optional<std::uint32_t> parse_ipv4(const std::string& text);
std::string format_ipv4(std::uint32_t address);
std::string format_endpoint(std::uint32_t address, std::uint16_t port);

// A UDP socket bound to address:port (port 0 picks one); SO_REUSEADDR when asked, so that an
// any-bound socket that receives a group can share the port with one bound to the device address.
UniqueFd open_udp_socket(std::uint32_t address, std::uint16_t port, bool reuse_address,
                         std::string* error);
std::uint16_t local_port(int fd);
bool join_multicast_group(int fd, std::uint32_t group, std::uint32_t interface_address,
                          std::string* error);
bool set_multicast_interface(int fd, std::uint32_t interface_address, std::string* error);
bool enable_destination_info(int fd, std::string* error);  // report each datagram's destination

struct Datagram {
  std::size_t size = 0;    // bytes stored in the buffer
  bool truncated = false;  // the datagram was longer than the buffer
  std::uint32_t source_address = 0;
  std::uint16_t source_port = 0;
  std::uint32_t destination_address = 0;  // known only with enable_destination_info
};

// Takes one datagram without blocking; nothing when none is waiting.
std::optional<Datagram> receive_datagram(int fd, std::uint8_t* buffer, std::size_t capacity);
bool send_datagram(int fd, const std::vector<std::uint8_t>& bytes, std::uint32_t address,
                   std::uint16_t port);

// A pipe that turns readable once signalled: one for stopping a device (never drained) and one
// per service thread for "look at the state again" (drained by its reader).
class Signal {
 public:
  Signal();
  int fd() const { return read_end_.get(); }
  void raise();
  void drain();

 private:
  UniqueFd read_end_;
  UniqueFd write_end_;
};

enum class WaitResult { ready, timeout, stopped };

// Waits until one of fds is readable (its index in *which), stop_fd is readable, or timeout_ms
// passes (negative: no limit). Negative entries in fds are skipped.
WaitResult wait_readable(const std::vector<int>& fds, int stop_fd, int timeout_ms,
                         std::size_t* which);

}  // namespace sim
