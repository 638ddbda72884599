// Writes the stand-in firmware image that the build embeds when no real image is given.
//
// Layout: a 128-byte header (the maker's marker at 0, the version text at 92, zeros elsewhere)
// and a body in which every 4-byte word is a bijective mix of its own offset, so no two words
// of the image are equal and any misplaced or repeated block shows in a byte comparison.
//
// Usage: make_standin_firmware OUTPUT
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t image_size = 761368;
constexpr std::size_t header_size = 128;
constexpr char maker_marker[16] = "TAVERO-FIRMWARE";  // 15 characters and the NUL
constexpr std::size_t version_offset = 92;
constexpr char version_text[] = "3.1.8-standin";

// MurmurHash3's finaliser: a bijection on 32-bit values with good avalanche.
std::uint32_t mix32(std::uint32_t value) {
  value ^= value >> 16;
  value *= 0x85ebca6bu;
  value ^= value >> 13;
  value *= 0xc2b2ae35u;
  value ^= value >> 16;
  return value;
}

std::vector<unsigned char> make_image() {
  static_assert(sizeof(maker_marker) == 16, "the marker fills 16 bytes");
  static_assert(version_offset + sizeof(version_text) <= header_size, "version fits the header");
  static_assert((image_size - header_size) % 4 == 0, "the body is whole words");

  std::vector<unsigned char> image(image_size, 0);
  std::memcpy(image.data(), maker_marker, sizeof(maker_marker));
  std::memcpy(image.data() + version_offset, version_text, sizeof(version_text));
  for (std::uint32_t offset = header_size; offset < image_size; offset += 4) {
    const std::uint32_t word = mix32(offset);
    // Little-endian on every host, so the image does not depend on where it was built.
    image[offset] = static_cast<unsigned char>(word);
    image[offset + 1] = static_cast<unsigned char>(word >> 8);
    image[offset + 2] = static_cast<unsigned char>(word >> 16);
    image[offset + 3] = static_cast<unsigned char>(word >> 24);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  const std::vector<unsigned char> image = make_image();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: write failed\n", argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
