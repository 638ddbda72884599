#include "core/ipv4_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vxt {
namespace {

struct ParseCase {
  std::string text;
  int code;
  std::uint32_t address;
};

TEST(ParseIpv4Text, CodesAndAddresses) {
  const std::uint32_t a1234 = 0x01020304;
  const ParseCase cases[] = {
      {"10.1.0.13", ipv4_valid, 0x0A01000D},
      {"010.001.000.013", ipv4_valid, 0x0A01000D},  // 15 characters, leading zeros decimal
      {"1.2.3.4", ipv4_valid, a1234},
      {"1*2*3*4", ipv4_valid, a1234},
      {"1..2.3.4", ipv4_valid, a1234},
      {".1.2.3.4", ipv4_valid, a1234},
      {"1.2.3.4.", ipv4_valid, a1234},
      {"255.255.255.255", ipv4_valid, 0xFFFFFFFF},
      {"0.0.0.0", ipv4_valid, 0},
      {"1.2.3.", ipv4_bad_length, 0},
      {"1.2.3.4.5.6.7.8", ipv4_too_many_parts, 0},
      {"1111.2222.33333", ipv4_part_too_large, 0},
      {"1.2.3.4.5678901", ipv4_too_many_parts, 0},
      {"1.2.3.45678901234", ipv4_bad_length, 0},
      {"", ipv4_bad_length, 0},
      {"1.2.3.4.5", ipv4_too_many_parts, 0},
      {"1.2.3.4.999", ipv4_too_many_parts, 0},  // refused before its value is read
      {"256.1.2.3", ipv4_part_too_large, 0},
      {"1.2.3.999999", ipv4_part_too_large, 0},  // no overflow into a small value
      {"1.2.3.429496729", ipv4_part_too_large, 0},
      {"1.2.3..", ipv4_too_few_parts, 0},
      {".......", ipv4_too_few_parts, 0},
      {"*******", ipv4_too_few_parts, 0},
      {"1.2.3.4a", ipv4_bad_character, 0},
      {"1.2. 3.4", ipv4_bad_character, 0},
      {"1.2.3.\xb4", ipv4_bad_character, 0},
      {"-1.2.3.4", ipv4_bad_character, 0},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\"");
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(parse_ipv4_text(c.text.c_str(), &address), c.code);
    EXPECT_EQ(address, c.address);
  }
}

TEST(ParseIpv4Text, ReadsNoFurtherThanSixteenCharactersOfALongText) {
  const std::string long_text(100000, '1');
  std::uint32_t address = 1;
  EXPECT_EQ(parse_ipv4_text(long_text.c_str(), &address), ipv4_bad_length);
  EXPECT_EQ(address, 0u);
}

TEST(FormatIpv4, MostSignificantByteFirst) {
  char out[16];
  format_ipv4(0x0A01000D, out);
  EXPECT_STREQ(out, "10.1.0.13");
  format_ipv4(0xFFFFFFFF, out);
  EXPECT_STREQ(out, "255.255.255.255");
}

}  // namespace
}  // namespace vxt
