// The state of HTTP Digest authentication, kept for the whole process.
#pragma once

#include <cstdint>

namespace vxt {

struct DigestState {
  std::uint32_t nonce_count = 0;  // nc of the current nonce
  char previous_nonce[128] = {};
  char nonce[128] = {};
  char cnonce[128] = {};
  char user[128] = {};
  char password[128] = {};  // empty: no credentials known, requests carry none
  char realm[128] = {};
  char qop[16] = {};
  char algorithm[16] = {};
  char uri[128] = {};
  char opaque[128] = {};
};

}  // namespace vxt
