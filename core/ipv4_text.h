// Dotted IPv4 texts typed by a person.
#pragma once

#include <cstdint>

namespace vxt {

// Result codes of parse_ipv4_text.
enum : int {
  ipv4_valid = 0,
  ipv4_part_too_large = 1,
  ipv4_too_many_parts = 2,
  ipv4_too_few_parts = 3,
  ipv4_bad_length = 4,
  ipv4_bad_character = 5,
};

// Parses a text of 7 to 15 characters made of digits, '.' and '*' (both separators; runs of
// them count as one; leading zeros are decimal). Sets *address (host order, first part most
// significant) on success and 0 on every failure.
int parse_ipv4_text(const char* text, std::uint32_t* address);

// "%u.%u.%u.%u", most significant byte first; out must hold 16 bytes.
void format_ipv4(std::uint32_t address, char (&out)[16]);

}  // namespace vxt
