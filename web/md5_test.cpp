#include "web/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vxt {
namespace {

struct KnownAnswer {
  const char* message;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const KnownAnswer kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321TestSuite) {
  for (const KnownAnswer& known : kRfc1321Suite) {
    EXPECT_EQ(md5_hex(known.message), known.digest) << "message \"" << known.message << "\"";
  }
}

TEST(Md5, RawDigestMatchesItsHexForm) {
  const Md5Digest digest = md5("abc", 3);
  EXPECT_EQ(digest[0], 0x90);
  EXPECT_EQ(digest[15], 0x72);
  EXPECT_EQ(to_hex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

// Splitting the input anywhere, in pieces that straddle the 64-byte block boundary and the
// 56-byte padding threshold, must give the one-shot digest.
TEST(Md5, ChunkedUpdatesAcrossBlockBoundaries) {
  std::string message;
  for (int i = 0; i < 300; ++i) message += static_cast<char>('!' + (i * 7) % 90);
  for (const std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string part = message.substr(0, length);
    const std::string expected = md5_hex(part);
    for (const std::size_t chunk : {1u, 3u, 37u, 63u, 64u, 65u}) {
      Md5Context context;
      md5_init(context);
      for (std::size_t at = 0; at < part.size(); at += chunk) {
        md5_update(context, part.data() + at, std::min(chunk, part.size() - at));
      }
      EXPECT_EQ(to_hex(md5_final(context)), expected) << "length " << length << " chunk " << chunk;
    }
  }
  // The 80-digit vector of the suite, fed as 30 + 50 bytes: the first update ends mid-block
  // and the second one completes that block and starts the next.
  const std::string digits =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  Md5Context context;
  md5_init(context);
  md5_update(context, digits.data(), 30);
  md5_update(context, digits.data() + 30, 50);
  EXPECT_EQ(to_hex(md5_final(context)), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, MillionRepeatedBytes) {
  // A long input that exercises many full blocks: one million 'a' characters.
  const std::vector<char> input(1000000, 'a');
  EXPECT_EQ(to_hex(md5(input.data(), input.size())), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
}  // namespace vxt
