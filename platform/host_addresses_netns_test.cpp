// The PC's addresses as the kernel lists them; runs inside a private network namespace
// (tests/in_netns), where it may add interfaces of its own.
#include "platform/host_addresses.h"
#include "platform/netns_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vxt {
namespace {

constexpr std::uint32_t loopback = 0x7F000001;

std::vector<std::uint32_t> listed() {
  std::uint32_t addresses[16] = {};
  const int count = list_host_addresses(addresses, 16);
  return std::vector<std::uint32_t>(addresses, addresses + count);
}

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

TEST(HostAddressesInNamespace, LoopbackOnlyThenOtherInterfacesFirst) {
  ASSERT_TRUE(in_private_network_namespace()) << "run it through tests/in_netns";
  ASSERT_EQ(listed(), std::vector<std::uint32_t>{loopback});

  run("ip addr add 127.0.0.9/8 dev lo");
  // Two interfaces that are up (one with a second address) and one that is down.
  run("ip link add vxta type veth peer name vxtb");
  run("ip addr add 10.200.0.1/24 dev vxta && ip addr add 10.200.0.2/24 dev vxta");
  run("ip addr add 10.200.1.1/24 dev vxtb");
  run("ip link set vxta up && ip link set vxtb up");
  run("ip link add vxtdown type bridge && ip addr add 10.200.2.1/24 dev vxtdown");

  const std::vector<std::uint32_t> addresses = listed();
  ASSERT_EQ(addresses.size(), 5u);
  const std::vector<std::uint32_t> others(addresses.begin(), addresses.begin() + 3);
  const auto at = [&](std::uint32_t a) { return std::find(others.begin(), others.end(), a); };
  ASSERT_NE(at(0x0AC80001), others.end());
  ASSERT_NE(at(0x0AC80002), others.end());
  ASSERT_NE(at(0x0AC80101), others.end());
  EXPECT_LT(at(0x0AC80001), at(0x0AC80002)) << "an interface's addresses keep their order";
  EXPECT_EQ(addresses[3], loopback);
  EXPECT_EQ(addresses[4], 0x7F000009u);

  std::uint32_t two[2] = {};
  EXPECT_EQ(list_host_addresses(two, 2), 2);
  EXPECT_EQ(two[0], addresses[0]);
  EXPECT_EQ(two[1], addresses[1]);
}

}  // namespace
}  // namespace vxt
