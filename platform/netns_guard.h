// For tests that send group traffic or add interfaces: they go on only where the loopback
// interface is the only one, as in a fresh namespace from tests/in_netns, so nothing they do
// can reach a real network.
#pragma once

#include <net/if.h>

#include <cstring>

namespace vxt {

inline bool in_private_network_namespace() {
  struct if_nameindex* interfaces = ::if_nameindex();
  if (interfaces == nullptr) return false;
  int count = 0;
  bool only_lo = true;
  for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
    ++count;
    if (std::strcmp(i->if_name, "lo") != 0) only_lo = false;
  }
  ::if_freenameindex(interfaces);
  return count == 1 && only_lo;
}

}  // namespace vxt
