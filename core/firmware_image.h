// The firmware image that travels inside the program, and the product it is for.
#pragma once

#include <cstdint>

namespace vxt {

constexpr int image_header_size = 128;
constexpr int version_text_offset = 92;
constexpr int version_text_capacity = image_header_size - version_text_offset;  // 36

struct FirmwareImage {
  const unsigned char* data;  // the program's own resource; never copied, changed or freed
  std::uint32_t size;
  unsigned char header[image_header_size];  // a copy of the first 128 bytes
  // The version text at header offset 92, up to its NUL or the header's end, terminated here
  // so that a header without a NUL is never read past.
  char version_text[version_text_capacity + 1];
};

struct ProductEntry {
  const char* tag;           // model tag at the start of the header
  unsigned compare_length;   // leading characters compared, letter case ignored
  const char* display_name;  // at most 13 characters
  std::int32_t device_kind;  // 0 = telephone adapter, 1 = IP phone
};

// The first row whose tag matches the header's start, or the "ODM-Product" adapter row.
const ProductEntry& identify_product(const unsigned char (&header)[image_header_size]);

// Points the image at its bytes and takes the header copy and the version text.
// The bytes must hold at least image_header_size bytes.
void load_firmware_image(FirmwareImage* image, const unsigned char* data, std::uint32_t size);

}  // namespace vxt
