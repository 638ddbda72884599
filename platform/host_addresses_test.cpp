#include "platform/host_addresses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vxt {
namespace {

constexpr std::uint32_t sentinel = 0xDEADBEEF;

TEST(OrderHostAddresses, UpInterfacesNonLoopbackFirst) {
  const InterfaceAddress lo{0x7F000001, true, true};
  const InterfaceAddress lo_alias{0x7F000002, true, true};
  const InterfaceAddress eth{0x0A000005, true, false};
  const InterfaceAddress eth_down{0x0A000006, false, false};
  const InterfaceAddress wlan{0xC0A80102, true, false};
  const InterfaceAddress lo_down{0x7F000003, false, true};
  const InterfaceAddress unnumbered{0, true, false};
  struct Case {
    const char* name;
    std::vector<InterfaceAddress> interfaces;
    int capacity;
    std::vector<std::uint32_t> expected;
  };
  const Case cases[] = {
      {"nothing", {}, 8, {}},
      {"loopback only", {lo}, 8, {0x7F000001}},
      {"kernel order kept, loopback moved last",
       {lo, eth, eth_down, wlan, lo_alias},
       8,
       {0x0A000005, 0xC0A80102, 0x7F000001, 0x7F000002}},
      {"down interfaces left out", {eth_down, lo_down}, 8, {}},
      {"no address 0, which would end the list", {unnumbered, eth}, 8, {0x0A000005}},
      {"capacity cuts loopback first", {lo, eth, wlan}, 2, {0x0A000005, 0xC0A80102}},
      {"capacity cuts inside the loopback", {lo, lo_alias, eth}, 2, {0x0A000005, 0x7F000001}},
      {"capacity 1", {lo, wlan, eth}, 1, {0xC0A80102}},
      {"capacity 0", {lo, eth}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t out[10];
    std::fill(std::begin(out), std::end(out), sentinel);
    const int count = order_host_addresses(c.interfaces.data(),
                                           static_cast<int>(c.interfaces.size()), out, c.capacity);
    EXPECT_EQ(std::vector<std::uint32_t>(out, out + count), c.expected);
    for (int i = count; i < 10; ++i) EXPECT_EQ(out[i], sentinel) << "written past the count";
  }
}

std::vector<std::uint32_t> listed(int capacity) {
  std::uint32_t out[12];
  std::fill(std::begin(out), std::end(out), sentinel);
  const int count = list_host_addresses(out, capacity);
  for (int i = count; i < 12; ++i) EXPECT_EQ(out[i], sentinel) << "written past the count";
  return std::vector<std::uint32_t>(out, out + count);
}

TEST(HostAddressesOverride, ReplacesTheList) {
  const std::uint32_t given[] = {0xC0A80102, 0x7F000001, 0x0A000005};
  set_host_addresses_override(given, 3);
  EXPECT_EQ(listed(12), (std::vector<std::uint32_t>{0xC0A80102, 0x7F000001, 0x0A000005}))
      << "kept exactly as given, loopback included where it stands";
  EXPECT_EQ(listed(2), (std::vector<std::uint32_t>{0xC0A80102, 0x7F000001}));

  std::vector<std::uint32_t> ten;
  for (std::uint32_t i = 1; i <= 10; ++i) ten.push_back(0x0A000000 + i);
  set_host_addresses_override(ten.data(), 10);
  EXPECT_EQ(listed(12), std::vector<std::uint32_t>(ten.begin(), ten.begin() + 8))
      << "the first eight are kept";

  set_host_addresses_override(nullptr, 0);
  EXPECT_EQ(listed(12), std::vector<std::uint32_t>{}) << "an empty override empties the list";
}

}  // namespace
}  // namespace vxt
