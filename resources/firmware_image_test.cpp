#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/resource.h"

namespace vxt {
namespace {

struct Image {
  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
};

Image embedded_image() {
  Image image;
  if (!find_resource(firmware_resource_type, firmware_resource_id, &image.data, &image.size)) {
    ADD_FAILURE() << "no firmware resource";
  }
  return image;
}

bool is_standin() { return VXT_FIRMWARE_IS_STANDIN != 0; }

TEST(FirmwareResource, EmbedsTheCheckedImageByteForByte) {
  const Image image = embedded_image();
  ASSERT_NE(image.data, nullptr);
  std::ifstream file(VXT_FIRMWARE_IMAGE_COPY, std::ios::binary);
  ASSERT_TRUE(file) << VXT_FIRMWARE_IMAGE_COPY;
  const std::vector<unsigned char> on_disk((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
  ASSERT_EQ(image.size, on_disk.size());
  EXPECT_EQ(std::memcmp(image.data, on_disk.data(), on_disk.size()), 0);
  EXPECT_GE(image.size, 128u);
  EXPECT_LE(image.size, 33553919u);
}

TEST(FirmwareResource, LookupRefusesOtherTypesAndIds) {
  struct Case {
    const char* type;
    int id;
  };
  const Case refused[] = {
      {"VXT_FIRMWARE", 111},  {"VXT_FIRMWARE", 113}, {"VXT_FIRMWARE", 0},
      {"VXT_FIRMWARE", -112}, {"VXT_FIRMWAR", 112},  {"VXT_FIRMWARE ", 112},
      {"RCDATA", 112},        {"vxt_firmware", 112}, {"", 112},
      {nullptr, 112},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.type == nullptr ? "(null)" : c.type);
    SCOPED_TRACE(c.id);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(&c);
    std::uint32_t size = 7;
    EXPECT_FALSE(find_resource(c.type, c.id, &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
  }
  EXPECT_TRUE(find_resource("VXT_FIRMWARE", 112, nullptr, nullptr));
}

TEST(FirmwareResource, LookupGivesTheSameBytesEveryTime) {
  const Image first = embedded_image();
  const Image second = embedded_image();
  EXPECT_EQ(first.data, second.data);
  EXPECT_EQ(first.size, second.size);
}

// The product rule: the first compare_length characters equal the tag, letters compared
// without regard to case; a NUL in the header ends the comparison as a mismatch.
bool header_matches_tag(const unsigned char* header, const char* tag, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (header[i] == 0) return false;
    if (std::tolower(header[i]) != std::tolower(static_cast<unsigned char>(tag[i]))) return false;
  }
  return true;
}

TEST(StandinFirmware, SizeMarkerAndVersion) {
  if (!is_standin()) GTEST_SKIP() << "a real image is embedded";
  const Image image = embedded_image();
  ASSERT_EQ(image.size, 761368u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data), 16),
            std::string("TAVERO-FIRMWARE\0", 16));
  for (std::size_t i = 16; i < 92; ++i) EXPECT_EQ(image.data[i], 0) << i;
  const char* version = reinterpret_cast<const char*>(image.data + 92);
  EXPECT_STREQ(version, "3.1.8-standin");
  for (std::size_t i = 92 + std::strlen(version); i < 128; ++i) EXPECT_EQ(image.data[i], 0) << i;
}

TEST(StandinFirmware, MarkerMatchesNoProductTagInAnyCase) {
  if (!is_standin()) GTEST_SKIP() << "a real image is embedded";
  const Image image = embedded_image();
  ASSERT_GE(image.size, 128u);
  struct Tag {
    const char* tag;
    std::size_t compare_length;
  };
  const Tag tags[] = {
      {"vxt5500", 7}, {"vxt4400", 7}, {"vxt6601", 7}, {"ralvek", 6}, {"vxt7710", 7}};
  for (const Tag& t : tags)
    EXPECT_FALSE(header_matches_tag(image.data, t.tag, t.compare_length)) << t.tag;

  // The helper is not blind: a capitalised tag matches, a NUL stops the comparison.
  const unsigned char capitals[] = "VXT5500xyz";
  EXPECT_TRUE(header_matches_tag(capitals, "vxt5500", 7));
  const unsigned char cut_short[] = "vxt55\0\0";
  EXPECT_FALSE(header_matches_tag(cut_short, "vxt5500", 7));
}

// A transfer that sends a block twice or out of place must show in a byte comparison.
TEST(StandinFirmware, EveryBlockOf512BytesIsDistinct) {
  if (!is_standin()) GTEST_SKIP() << "a real image is embedded";
  const Image image = embedded_image();
  ASSERT_EQ(image.size, 761368u);
  const std::size_t block = 512;
  const std::size_t blocks = (image.size + block - 1) / block;
  ASSERT_EQ(blocks, 1488u);
  std::vector<std::string> contents;
  for (std::size_t n = 0; n < blocks; ++n) {
    const std::size_t begin = n * block;
    const std::size_t length = std::min<std::size_t>(block, image.size - begin);
    contents.emplace_back(reinterpret_cast<const char*>(image.data + begin), length);
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(std::adjacent_find(contents.begin(), contents.end()), contents.end());

  // Stronger: no 4-byte word of the body repeats, so a copy at any word offset differs too.
  std::vector<std::uint32_t> words;
  for (std::size_t offset = 128; offset + 4 <= image.size; offset += 4) {
    std::uint32_t word;
    std::memcpy(&word, image.data + offset, 4);
    words.push_back(word);
  }
  std::sort(words.begin(), words.end());
  EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end());
}

}  // namespace
}  // namespace vxt
