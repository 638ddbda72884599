#include "web/md5.h"

#include <cstring>

namespace vxt {
namespace {

constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr unsigned kShifts[64] = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

std::uint32_t rotate_left(std::uint32_t value, unsigned bits) {
  return (value << bits) | (value >> (32 - bits));
}

void transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t words[16];
  for (int i = 0; i < 16; ++i) {
    words[i] = std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8 |
               std::uint32_t(block[i * 4 + 2]) << 16 | std::uint32_t(block[i * 4 + 3]) << 24;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t next_d = c;
    c = b;
    b = b + rotate_left(a + f + kSines[i] + words[g], kShifts[i]);
    a = d;
    d = next_d;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void md5_init(Md5Context& context) {
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
  context.length = 0;
  std::memset(context.block, 0, sizeof context.block);
}

void md5_update(Md5Context& context, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t held = static_cast<std::size_t>(context.length % 64);
  context.length += size;
  if (held > 0) {
    const std::size_t take = size < 64 - held ? size : 64 - held;
    std::memcpy(context.block + held, bytes, take);
    held += take;
    bytes += take;
    size -= take;
    if (held < 64) return;
    transform(context.state, context.block);
  }
  for (; size >= 64; size -= 64, bytes += 64) transform(context.state, bytes);
  if (size > 0) std::memcpy(context.block, bytes, size);
}

Md5Digest md5_final(Md5Context& context) {
  const std::uint64_t bit_length = context.length * 8;
  std::uint8_t padding[72] = {0x80};
  const std::size_t held = static_cast<std::size_t>(context.length % 64);
  // Pad to 56 mod 64, leaving room for the 8-byte length.
  const std::size_t pad_size = held < 56 ? 56 - held : 120 - held;
  md5_update(context, padding, pad_size);
  std::uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<std::uint8_t>(bit_length >> (8 * i));
  md5_update(context, length_bytes, 8);

  Md5Digest digest;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      digest[i * 4 + j] = static_cast<std::uint8_t>(context.state[i] >> (8 * j));
  }
  return digest;
}

Md5Digest md5(const void* data, std::size_t size) {
  Md5Context context;
  md5_init(context);
  md5_update(context, data, size);
  return md5_final(context);
}

std::string to_hex(const Md5Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(32);
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string md5_hex(const std::string& text) { return to_hex(md5(text.data(), text.size())); }

}  // namespace vxt
