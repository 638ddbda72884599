#include "core/ipv4_text.h"

#include <cstdio>
#include <cstring>

namespace vxt {

int parse_ipv4_text(const char* text, std::uint32_t* address) {
  *address = 0;
  const std::size_t length = strnlen(text, 16);
  if (length > 15 || length < 7) return ipv4_bad_length;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || c == '.' || c == '*')) return ipv4_bad_character;
  }
  std::uint32_t parts[4] = {};
  int taken = 0;
  bool any_part = false;
  std::size_t i = 0;
  while (i < length) {
    if (text[i] == '.' || text[i] == '*') {
      ++i;
      continue;
    }
    any_part = true;
    if (taken == 4) return ipv4_too_many_parts;  // refused before its value is read
    std::uint32_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (value <= 255) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (value > 255) return ipv4_part_too_large;
    parts[taken++] = value;
  }
  if (!any_part || taken < 4) return ipv4_too_few_parts;
  *address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  return ipv4_valid;
}

void format_ipv4(std::uint32_t address, char (&out)[16]) {
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", (address >> 24) & 0xffu, (address >> 16) & 0xffu,
                (address >> 8) & 0xffu, address & 0xffu);
}

}  // namespace vxt
