#include "core/random.h"

#include <gtest/gtest.h>

#include "core/session_state.h"

namespace vxt {
namespace {

TEST(NextRandom, FollowsTheLinearCongruentialSequence) {
  seed_random(0);
  EXPECT_EQ(next_random(), 38);
  EXPECT_EQ(next_random(), 7719);
  seed_random(1);
  EXPECT_EQ(next_random(), 41);
  EXPECT_EQ(next_random(), 18467);
  seed_random(0xFFFFFFFFu);  // the state wraps modulo 2^32 and the value stays in 0..32767
  for (int i = 0; i < 1000; ++i) {
    const int v = next_random();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 32767);
  }
}

TEST(TftpFileName, IsLowerCaseHexWithoutLeadingZeros) {
  seed_random(0);
  draw_tftp_file_name();
  EXPECT_STREQ(session.tftp_file_name, "/vxt26.bin");  // 38
  draw_tftp_file_name();
  EXPECT_STREQ(session.tftp_file_name, "/vxt1e27.bin");  // 7719
}

}  // namespace
}  // namespace vxt
