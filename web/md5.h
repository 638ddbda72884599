// MD5 message digest (RFC 1321), used by HTTP Digest authentication.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vxt {

using Md5Digest = std::array<std::uint8_t, 16>;

// Streaming form: md5_init, any number of md5_update calls, then md5_final once.
struct Md5Context {
  std::uint32_t state[4];
  std::uint64_t length;    // bytes hashed so far
  std::uint8_t block[64];  // a partial block waiting for more input
};

void md5_init(Md5Context& context);
void md5_update(Md5Context& context, const void* data, std::size_t size);
Md5Digest md5_final(Md5Context& context);

// One-shot helpers.
Md5Digest md5(const void* data, std::size_t size);
std::string md5_hex(const std::string& text);  // 32 lowercase hexadecimal digits
std::string to_hex(const Md5Digest& digest);

}  // namespace vxt
