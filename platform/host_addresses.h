// The PC's own IPv4 addresses.
#pragma once

#include <cstdint>

namespace vxt {

// Writes at most `capacity` host-order addresses of the interfaces that are up: non-loopback
// first in the kernel's order, loopback last. Returns the count written.
// An override (set_host_addresses_override) replaces the interface list entirely.
int list_host_addresses(std::uint32_t* addresses, int capacity);

// Replaces what list_host_addresses reports (the automation front end's `start` action).
// The first `max_host_address_override` addresses are kept, the rest ignored; a count of 0
// makes the list empty.
void set_host_addresses_override(const std::uint32_t* addresses, int count);
constexpr int max_host_address_override = 8;

// One IPv4 address of one interface, as the system lists them.
struct InterfaceAddress {
  std::uint32_t address;  // host order
  bool up;
  bool loopback;
};

// The ordering behind list_host_addresses: addresses of interfaces that are up, non-loopback
// first in the given order, then loopback; 0 addresses are left out (0 ends an address list).
// Writes at most `capacity` and returns the count written.
int order_host_addresses(const InterfaceAddress* interfaces, int count, std::uint32_t* addresses,
                         int capacity);

}  // namespace vxt
