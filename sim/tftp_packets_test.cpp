#include "sim/tftp_packets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sim {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(SimTftpPackets, BuildsRequestAckAndError) {
  EXPECT_EQ(make_read_request("/vxt1.bin", {{"tsize", "0"}, {"timeout", "5"}}),
            bytes_of(std::string("\0\1/vxt1.bin\0octet\0tsize\0"
                                 "0\0timeout\0"
                                 "5\0",
                                 36)));
  EXPECT_EQ(make_ack(0x1234), bytes_of(std::string("\0\4\x12\x34", 4)));
  EXPECT_EQ(make_error(5, "Unknown transfer ID"),
            bytes_of(std::string("\0\5\0\5Unknown transfer ID\0", 24)));
}

TEST(SimTftpPackets, ReadsTheWizardsOptionAcknowledgement) {
  const auto oack =
      bytes_of(std::string("\0\6tsize\0"
                           "761368\0timeout\0"
                           "5\0",
                           25));
  const auto packet = parse_server_packet(oack.data(), oack.size());
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->opcode, TftpOpcode::oack);
  const std::vector<std::pair<std::string, std::string>> expected = {{"tsize", "761368"},
                                                                     {"timeout", "5"}};
  EXPECT_EQ(packet->options, expected);
  // Every shorter cut leaves an unterminated string or an option without value; none passes
  // except the bare opcode, an acknowledgement of no options, and the cut after "tsize\0761368\0".
  for (std::size_t size = 0; size < oack.size(); ++size) {
    const bool whole_pairs = size == 2 || size == 15;
    EXPECT_EQ(parse_server_packet(oack.data(), size).has_value(), whole_pairs) << "cut at " << size;
  }
  const auto upper =
      bytes_of(std::string("\0\6TSIZE\0"
                           "12\0",
                           11));
  // Names and order stay as sent, so the device can insist on the exact form.
  const std::vector<std::pair<std::string, std::string>> as_sent = {{"TSIZE", "12"}};
  EXPECT_EQ(parse_server_packet(upper.data(), upper.size())->options, as_sent);
  const auto reversed =
      bytes_of(std::string("\0\6timeout\0"
                           "5\0tsize\0"
                           "7\0",
                           20));
  const std::vector<std::pair<std::string, std::string>> reversed_order = {{"timeout", "5"},
                                                                           {"tsize", "7"}};
  const auto reversed_packet = parse_server_packet(reversed.data(), reversed.size());
  ASSERT_TRUE(reversed_packet.has_value());
  EXPECT_EQ(reversed_packet->options, reversed_order);
  const auto twice =
      bytes_of(std::string("\0\6tsize\0"
                           "1\0TSize\0"
                           "2\0",
                           18));
  EXPECT_FALSE(parse_server_packet(twice.data(), twice.size()).has_value());
}

TEST(SimTftpPackets, ReadsDataAndErrorWithinTheirBounds) {
  std::vector<std::uint8_t> data = {0, 3, 0x05, 0xd0};
  data.resize(4 + 512, 0xab);
  auto packet = parse_server_packet(data.data(), data.size());
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->block, 1488);
  EXPECT_EQ(packet->data_size, 512u);
  EXPECT_EQ(packet->data_offset, 4u);
  packet = parse_server_packet(data.data(), 4);
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->data_size, 0u);
  data.push_back(0);
  EXPECT_FALSE(parse_server_packet(data.data(), data.size()).has_value()) << "513 bytes of data";
  EXPECT_FALSE(parse_server_packet(data.data(), 3).has_value());

  const auto error = bytes_of(std::string("\0\5\0\1File not found\0", 19));
  for (std::size_t size = 0; size <= error.size(); ++size) {
    packet = parse_server_packet(error.data(), size);
    ASSERT_EQ(packet.has_value(), size >= 4) << "cut at " << size;
    if (packet) {
      EXPECT_EQ(packet->error_message,
                std::string("File not found").substr(0, size > 4 ? size - 4 : 0));
    }
  }

  for (const std::uint16_t opcode : {1, 2, 4, 7, 0xffff}) {
    const std::vector<std::uint8_t> other = {static_cast<std::uint8_t>(opcode >> 8),
                                             static_cast<std::uint8_t>(opcode), 0, 1};
    EXPECT_FALSE(parse_server_packet(other.data(), other.size()).has_value()) << opcode;
  }
}

}  // namespace
}  // namespace sim
