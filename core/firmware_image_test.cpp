#include "core/firmware_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/session_state.h"
#include "core/start_up.h"
#include "platform/host_addresses.h"

namespace vxt {
namespace {

struct ProductCase {
  const char* name;
  std::string start;  // the header's first bytes
  const char* model;
  int kind;
};

TEST(IdentifyProduct, FirstMatchingRowWinsComparingLettersWithoutCase) {
  const ProductCase cases[] = {
      {"row 1 in capitals", "VXT5500", "VXT-5500", 0},
      {"row 2", "vxt4400xyz", "VXT-4100/4400", 0},
      {"row 3 mixed case", "VxT6601", "VXT-6601", 0},
      {"phone compares six characters", "ralvek!", "VXT-770", 1},
      {"phone tag in capitals", "RALVEK", "VXT-770", 1},
      {"row 5", "vxt7710", "VXT-7710", 0},
      {"five characters and a NUL", std::string("vxt55\0\0", 7), "ODM-Product", 0},
      {"six of seven characters", "vxt550", "ODM-Product", 0},
      {"empty header", "", "ODM-Product", 0},
      {"maker marker", "TAVERO-FIRMWARE", "ODM-Product", 0},
      {"8-bit bytes", "\xd6\xd8\xf6vxt5500", "ODM-Product", 0},
  };
  for (const ProductCase& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char header[image_header_size] = {};
    std::memcpy(header, c.start.data(), c.start.size());
    const ProductEntry& p = identify_product(header);
    EXPECT_STREQ(p.display_name, c.model);
    EXPECT_EQ(p.device_kind, c.kind);
  }
}

TEST(LoadFirmwareImage, VersionTextEndsAtItsNulOrTheHeadersEnd) {
  unsigned char bytes[200];
  std::memset(bytes, 'v', sizeof bytes);  // no NUL anywhere after offset 92
  FirmwareImage image{};
  load_firmware_image(&image, bytes, sizeof bytes);
  EXPECT_EQ(image.data, bytes);
  EXPECT_EQ(image.size, 200u);
  EXPECT_EQ(std::string(image.version_text), std::string(36, 'v'));

  std::memcpy(bytes + 92, "1.2.3\0", 6);
  load_firmware_image(&image, bytes, sizeof bytes);
  EXPECT_STREQ(image.version_text, "1.2.3");
  EXPECT_EQ(std::memcmp(image.header, bytes, image_header_size), 0);
}

TEST(StartUp, PreparesTheSessionFromTheEmbeddedImageAndTheHostAddresses) {
  const std::uint32_t addresses[] = {0x0A010002, 0xC0A80101, 0x7F000001};
  set_host_addresses_override(addresses, 3);
  session = SessionState{};
  std::strcpy(session.digest.password, "left over");
  session.digest.nonce_count = 5;
  start_up();
  EXPECT_STREQ(session.model_name, "ODM-Product");
  EXPECT_EQ(session.device_kind, 0);
  EXPECT_EQ(session.image.size, 761368u);
  EXPECT_EQ(std::memcmp(session.image.header, session.image.data, image_header_size), 0);
  EXPECT_STREQ(session.image.version_text, "3.1.8-standin");
  EXPECT_EQ(session.local_addresses[0], 0x0A010002u);
  EXPECT_EQ(session.local_addresses[2], 0x7F000001u);
  EXPECT_EQ(session.local_addresses[3], 0u);
  EXPECT_EQ(session.local_address, 0x0A010002u);
  EXPECT_EQ(session.digest.nonce_count, 0u);
  EXPECT_STREQ(session.digest.password, "");

  set_host_addresses_override(nullptr, 0);  // no address at all: no message, address 0
  session = SessionState{};
  start_up();
  EXPECT_EQ(session.local_addresses[0], 0u);
  EXPECT_EQ(session.local_address, 0u);
}

TEST(StartUp, KeepsAtMostEightAddressesInTheirOrder) {
  std::uint32_t addresses[10];
  for (std::uint32_t i = 0; i < 10; ++i) addresses[i] = 0x0A000001 + i;
  set_host_addresses_override(addresses, 10);
  session = SessionState{};
  start_up();
  for (int i = 0; i < max_local_addresses; ++i) EXPECT_EQ(session.local_addresses[i], addresses[i]);
}

}  // namespace
}  // namespace vxt
