#include "core/firmware_image.h"

#include <cstring>

namespace vxt {
namespace {

constexpr ProductEntry product_table[] = {
    {"vxt5500", 7, "VXT-5500", 0}, {"vxt4400", 7, "VXT-4100/4400", 0},
    {"vxt6601", 7, "VXT-6601", 0}, {"ralvek", 6, "VXT-770", 1},
    {"vxt7710", 7, "VXT-7710", 0},
};
constexpr ProductEntry default_product = {"", 0, "ODM-Product", 0};

char lower_ascii(unsigned char c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

bool tag_matches(const unsigned char* header, const ProductEntry& row) {
  for (unsigned i = 0; i < row.compare_length; ++i) {
    // A NUL in the header ends the comparison as a mismatch: the tags hold none.
    if (lower_ascii(header[i]) != row.tag[i]) return false;
  }
  return true;
}

}  // namespace

const ProductEntry& identify_product(const unsigned char (&header)[image_header_size]) {
  for (const ProductEntry& row : product_table)
    if (tag_matches(header, row)) return row;
  return default_product;
}

void load_firmware_image(FirmwareImage* image, const unsigned char* data, std::uint32_t size) {
  image->data = data;
  image->size = size;
  std::memcpy(image->header, data, image_header_size);
  int n = 0;
  while (n < version_text_capacity && image->header[version_text_offset + n] != 0) {
    image->version_text[n] = static_cast<char>(image->header[version_text_offset + n]);
    ++n;
  }
  image->version_text[n] = '\0';
}

}  // namespace vxt
