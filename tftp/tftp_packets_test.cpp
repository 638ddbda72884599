#include "tftp/tftp_packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vxt {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(TftpPackets, Be16StoresTheLow16BitsHighByteFirst) {
  struct Case {
    std::uint32_t value;
    unsigned char high, low;
    std::uint16_t read_back;
  } cases[] = {{0, 0, 0, 0},
               {4, 0, 4, 4},
               {0x1234, 0x12, 0x34, 0x1234},
               {65535, 0xFF, 0xFF, 65535},
               {65536, 0, 0, 0},  // the 65536th acknowledgement would wrap; never sent
               {0x12345, 0x23, 0x45, 0x2345}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    unsigned char b[3] = {0xAA, 0xAA, 0xAA};
    put_be16(b, c.value);
    EXPECT_EQ(b[0], c.high);
    EXPECT_EQ(b[1], c.low);
    EXPECT_EQ(b[2], 0xAA) << "two bytes only";
    EXPECT_EQ(get_be16(b), c.read_back);
  }
}

TEST(TftpPackets, EndpointsRoundTripAndHoldNetworkOrder) {
  Ipv4Endpoint e{0, 0};
  make_ipv4_endpoint(0x0A010002, 70, &e);
  const auto* address = reinterpret_cast<const unsigned char*>(&e.address);
  const auto* port = reinterpret_cast<const unsigned char*>(&e.port);
  EXPECT_EQ(std::vector<int>(address, address + 4), (std::vector<int>{10, 1, 0, 2}));
  EXPECT_EQ(std::vector<int>(port, port + 2), (std::vector<int>{0, 70}));
  std::uint32_t a = 1;
  std::uint16_t p = 1;
  split_ipv4_endpoint(e, &a, &p);
  EXPECT_EQ(a, 0x0A010002u);
  EXPECT_EQ(p, 70);
  make_ipv4_endpoint(0, 0, &e);  // the any-address
  EXPECT_EQ(e.address, 0u);
}

TEST(TftpPackets, OptionAcknowledgementCarriesSizeAndTimeout) {
  struct Case {
    std::uint32_t size;
    const char* digits;
  } cases[] = {{761368, "761368"},
               {0, "0"},
               {512, "512"},
               {33553919, "33553919"},
               {4294967295u, "4294967295"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digits);
    unsigned char packet[64];
    std::memset(packet, 0xEE, sizeof packet);
    const int length = build_option_ack(packet, c.size);
    const Bytes expected = bytes(std::string("\0\6tsize\0", 8) + c.digits +
                                 std::string("\0timeout\0"
                                             "5\0",
                                             11));
    ASSERT_EQ(length, static_cast<int>(std::strlen(c.digits)) + 19);
    EXPECT_EQ(Bytes(packet, packet + length), expected);
    EXPECT_EQ(packet[length], 0xEE) << "nothing written past the packet";
  }
}

TEST(TftpPackets, DataBlockCarriesTheLow16BitsOfTheBlockAndItsBytes) {
  unsigned char image[512];
  for (int i = 0; i < 512; ++i) image[i] = static_cast<unsigned char>(i * 7);
  struct Case {
    std::uint32_t block;
    int length;
    unsigned char high, low;
  } cases[] = {{1, 512, 0, 1}, {1488, 24, 0x05, 0xD0}, {65535, 0, 0xFF, 0xFF}, {65537, 3, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    unsigned char packet[520];
    std::memset(packet, 0xEE, sizeof packet);
    ASSERT_EQ(build_data_block(packet, image, c.length, c.block), c.length + 4);
    EXPECT_EQ(Bytes(packet, packet + 4), (Bytes{0, 3, c.high, c.low}));
    EXPECT_EQ(Bytes(packet + 4, packet + 4 + c.length), Bytes(image, image + c.length));
    EXPECT_EQ(packet[c.length + 4], 0xEE);
  }
}

// Each datagram sits in a buffer of exactly its length, so a read past it is caught (ASan).
bool accepted(const Bytes& datagram, const char* name) {
  std::vector<unsigned char> exact(datagram);
  return is_read_request_for(exact.empty() ? nullptr : exact.data(), static_cast<int>(exact.size()),
                             name);
}

TEST(TftpPackets, ReadRequestCheck) {
  const char* name = "/vxt2f1a.bin";
  const std::string name127 = "/" + std::string(126, 'n');
  const std::string name128 = name127 + "n";
  std::string many_options;
  for (int i = 0; i < 300; ++i) many_options += "opt" + std::to_string(i) + '\0' + "1" + '\0';
  struct Case {
    const char* what;
    std::string datagram;
    const char* wanted;
    bool accepted;
  } cases[] = {
      {"octet", std::string("\0\1/vxt2f1a.bin\0octet\0", 21), name, true},
      {"netascii", std::string("\0\1/vxt2f1a.bin\0netascii\0", 24), name, true},
      {"no mode at all", std::string("\0\1/vxt2f1a.bin\0", 15), name, true},
      {"options",
       std::string("\0\1/vxt2f1a.bin\0octet\0tsize\0"
                   "0\0blksize\0"
                   "1432\0",
                   41),
       name, true},
      {"hundreds of options", std::string("\0\1/vxt2f1a.bin\0octet\0", 21) + many_options, name,
       true},
      {"other letter case", std::string("\0\1/VXT2F1A.BIN\0octet\0", 21), name, false},
      {"another name", std::string("\0\1/vxt2f1b.bin\0octet\0", 21), name, false},
      {"a prefix of the name", std::string("\0\1/vxt2f1a.bi\0octet\0", 20), name, false},
      {"the name and more", std::string("\0\1/vxt2f1a.binx\0octet\0", 22), name, false},
      {"without the slash", std::string("\0\1vxt2f1a.bin\0octet\0", 20), name, false},
      {"empty name", std::string("\0\1\0octet\0", 9), name, false},
      {"write request", std::string("\0\2/vxt2f1a.bin\0octet\0", 21), name, false},
      {"opcode 257", std::string("\1\1/vxt2f1a.bin\0octet\0", 21), name, false},
      {"no NUL anywhere", std::string("\0\1/vxt2f1a.bin", 14), name, false},
      {"127-character name", std::string("\0\1", 2) + name127 + std::string("\0octet\0", 7),
       name127.c_str(), true},
      {"128-character name", std::string("\0\1", 2) + name128 + std::string("\0octet\0", 7),
       name127.c_str(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(accepted(bytes(c.datagram), c.wanted), c.accepted);
  }
}

TEST(TftpPackets, EveryTruncationOfAReadRequestShortOfTheNulIsRefused) {
  const std::string full("\0\1/vxt2f1a.bin\0octet\0", 21);
  for (std::size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE(length);
    // The name's NUL is byte 14: from 15 bytes on the request is whole enough.
    EXPECT_EQ(accepted(bytes(full.substr(0, length)), "/vxt2f1a.bin"), length >= 15);
  }
}

TEST(TftpPackets, SessionDatagramClassification) {
  Ipv4Endpoint peer;
  make_ipv4_endpoint(0x7F000002, 3000, &peer);
  Ipv4Endpoint other_port;
  make_ipv4_endpoint(0x7F000002, 3001, &other_port);
  Ipv4Endpoint other_address;
  make_ipv4_endpoint(0x7F000003, 3000, &other_address);
  using D = SessionDatagram;
  struct Case {
    const char* what;
    Bytes datagram;
    int received;  // -1: nothing
    Ipv4Endpoint source;
    std::uint32_t current_block;
    D expected;
  } cases[] = {
      {"nothing", {}, -1, peer, 0, D::nothing},
      {"empty datagram", {}, 0, peer, 0, D::nothing},
      {"ack 0", {0, 4, 0, 0}, 4, peer, 0, D::expected_ack},
      {"ack with trailing bytes", {0, 4, 0, 7, 9, 9}, 6, peer, 7, D::expected_ack},
      {"ack 1488", {0, 4, 0x05, 0xD0}, 4, peer, 1488, D::expected_ack},
      {"duplicate ack", {0, 4, 0, 6}, 4, peer, 7, D::other_block_ack},
      {"ack ahead", {0, 4, 0, 8}, 4, peer, 7, D::other_block_ack},
      {"ack 0 when 65536 is due", {0, 4, 0, 0}, 4, peer, 65536, D::other_block_ack},
      {"other port", {0, 4, 0, 7}, 4, other_port, 7, D::foreign_source},
      {"other address", {0, 4, 0, 7}, 4, other_address, 7, D::foreign_source},
      {"error packet", {0, 5, 0, 0, 'x', 0}, 6, peer, 7, D::not_an_ack},
      {"data", {0, 3, 0, 7}, 4, peer, 7, D::not_an_ack},
      {"read request", {0, 1, '/', 0}, 4, peer, 7, D::not_an_ack},
      {"1 byte", {0}, 1, peer, 0, D::not_an_ack},
      {"2 bytes", {0, 4}, 2, peer, 0, D::not_an_ack},
      {"3 bytes", {0, 4, 0}, 3, peer, 0, D::not_an_ack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes exact(c.datagram);
    EXPECT_EQ(classify_session_datagram(c.received, exact.data(), c.source, peer, c.current_block),
              c.expected);
  }
}

}  // namespace
}  // namespace vxt
