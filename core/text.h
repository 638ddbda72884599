// Fixed-size zero-terminated texts.
#pragma once

#include <cstddef>
#include <cstring>

namespace vxt {

// Copies at most N - 1 bytes of src and always terminates dst.
template <std::size_t N>
void copy_text(char (&dst)[N], const char* src) {
  const std::size_t n = strnlen(src, N - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace vxt
