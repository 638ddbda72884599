#include "platform/host_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <mutex>
#include <vector>

namespace vxt {

namespace {

struct Override {
  std::mutex lock;
  bool active = false;
  int count = 0;
  std::uint32_t addresses[max_host_address_override] = {};
};

Override& host_override() {
  static Override instance;
  return instance;
}

std::vector<InterfaceAddress> system_interface_addresses() {
  std::vector<InterfaceAddress> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    found.push_back(InterfaceAddress{ntohl(ipv4->sin_addr.s_addr), (entry->ifa_flags & IFF_UP) != 0,
                                     (entry->ifa_flags & IFF_LOOPBACK) != 0});
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

int order_host_addresses(const InterfaceAddress* interfaces, int count, std::uint32_t* addresses,
                         int capacity) {
  int written = 0;
  for (const bool loopback_pass : {false, true}) {
    for (int i = 0; i < count && written < capacity; ++i) {
      const InterfaceAddress& entry = interfaces[i];
      if (!entry.up || entry.loopback != loopback_pass || entry.address == 0) continue;
      addresses[written++] = entry.address;
    }
  }
  return written;
}

int list_host_addresses(std::uint32_t* addresses, int capacity) {
  if (addresses == nullptr || capacity <= 0) return 0;
  {
    Override& o = host_override();
    std::lock_guard<std::mutex> hold(o.lock);
    if (o.active) {
      int written = 0;
      for (; written < o.count && written < capacity; ++written) {
        addresses[written] = o.addresses[written];
      }
      return written;
    }
  }
  const std::vector<InterfaceAddress> interfaces = system_interface_addresses();
  return order_host_addresses(interfaces.data(), static_cast<int>(interfaces.size()), addresses,
                              capacity);
}

void set_host_addresses_override(const std::uint32_t* addresses, int count) {
  Override& o = host_override();
  std::lock_guard<std::mutex> hold(o.lock);
  o.active = true;
  o.count = 0;
  if (addresses == nullptr) return;
  for (int i = 0; i < count && i < max_host_address_override; ++i) {
    o.addresses[o.count++] = addresses[i];
  }
}

}  // namespace vxt
