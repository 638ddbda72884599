#include "sim/recovery_packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace sim {
namespace {

std::vector<std::uint8_t> request(std::uint8_t type, const char* serial, std::uint16_t port,
                                  const char* name) {
  std::vector<std::uint8_t> bytes(kRecoveryRequestSize, 0);
  bytes[0] = type;
  std::memcpy(bytes.data() + 4, "RECM", 4);
  std::memcpy(bytes.data() + 8, serial, std::strlen(serial));
  bytes[28] = static_cast<std::uint8_t>(port >> 8);
  bytes[29] = static_cast<std::uint8_t>(port);
  std::memcpy(bytes.data() + 32, name, std::strlen(name));
  return bytes;
}

TEST(SimRecoveryRequest, ReadsSearchAndStartRequests) {
  const auto search = request(0, "VX0001", 0, "");
  auto parsed = parse_recovery_request(search.data(), search.size());
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->type, 0);
  EXPECT_EQ(parsed->serial, "VX0001");

  const auto start = request(2, "VX0001", 0x1234, "/vxt2f1a.bin");
  parsed = parse_recovery_request(start.data(), start.size());
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->type, 2);
  EXPECT_EQ(parsed->tftp_port, 0x1234);
  EXPECT_EQ(parsed->file_name, "/vxt2f1a.bin");

  // A serial that fills its 20 bytes ends at the field's end, not in the port bytes.
  const auto full = request(0, "ABCDEFGHIJKLMNOPQRST", 0x4142, "");
  EXPECT_EQ(parse_recovery_request(full.data(), full.size())->serial, "ABCDEFGHIJKLMNOPQRST");
}

TEST(SimRecoveryRequest, RefusesAnythingButExactly160BytesWithTheMagic) {
  const auto search = request(0, "VX0001", 0, "");
  for (std::size_t size = 0; size < search.size(); ++size) {
    EXPECT_FALSE(parse_recovery_request(search.data(), size).has_value()) << size;
  }
  auto longer = search;
  longer.push_back(0);
  EXPECT_FALSE(parse_recovery_request(longer.data(), longer.size()).has_value());
  auto bad_magic = search;
  bad_magic[7] = 'N';
  EXPECT_FALSE(parse_recovery_request(bad_magic.data(), bad_magic.size()).has_value());
  auto unterminated = request(2, "VX0001", 69, "");
  std::memset(unterminated.data() + 32, 'a', 128);
  EXPECT_FALSE(parse_recovery_request(unterminated.data(), unterminated.size()).has_value());
}

TEST(SimRecoveryReply, FollowsTheReplyLayout) {
  DeviceIdentity identity;
  identity.serial_number = "VX0001";
  identity.product_name = "ABCDEFGHIJKLMNOPQRSTUVWX";  // longer than its field: cut to 20 bytes
  identity.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  identity.software_version = "2.1.7";
  identity.hardware_version = "HW-1";
  const auto reply = build_recovery_reply(identity, 0x0A01000D, RecoveryReplyFault::none);
  ASSERT_EQ(reply.size(), kRecoveryReplySize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 8)), "VX0001");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 28), 20),
            "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(reply[48], 0x00);
  EXPECT_EQ(reply[53], 0x5E);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 54)), "2.1.7");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 74)), "HW-1");
  EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 94, reply.begin() + 98),
            (std::vector<std::uint8_t>{10, 1, 0, 13}));

  EXPECT_EQ(build_recovery_reply(identity, 0x0A01000D, RecoveryReplyFault::short_reply).size(),
            99u);
  EXPECT_EQ(build_recovery_reply(identity, 0x0A01000D, RecoveryReplyFault::long_reply).size(),
            101u);
  const auto zero = build_recovery_reply(identity, 0x0A01000D, RecoveryReplyFault::zero_address);
  EXPECT_EQ(std::vector<std::uint8_t>(zero.begin() + 94, zero.begin() + 98),
            (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace sim
