// The PC's own IPv4 addresses.
#pragma once

#include <cstdint>

namespace vxt {

// Writes at most `capacity` host-order addresses of the interfaces that are up: non-loopback
// first in the kernel's order, loopback last. Returns the count written.
// An override (set_host_addresses_override) replaces the interface list entirely.
int list_host_addresses(std::uint32_t* addresses, int capacity);

// Replaces what list_host_addresses reports (the automation front end's `start` action).
void set_host_addresses_override(const std::uint32_t* addresses, int count);

}  // namespace vxt
