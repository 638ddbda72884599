// The requests' bytes on the wire and the decoding of the device's reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "recovery/recovery_reply.h"
#include "recovery/recovery_request.h"

namespace vxt {
namespace {

const std::uint8_t* bytes_of(const RecoveryRequest& r) {
  return reinterpret_cast<const std::uint8_t*>(&r);
}

bool all_zero(const RecoveryRequest& r, int from, int to) {
  for (int i = from; i < to; ++i)
    if (bytes_of(r)[i] != 0) return false;
  return true;
}

TEST(RecoveryRequest, SearchRequestCarriesTypeZeroAndTheSerialWithZerosToTheFieldsEnd) {
  struct Case {
    const char* name;
    std::string serial;
    std::string expected;  // the serial field up to its first zero
  } cases[] = {
      {"ordinary", "VX0001", "VX0001"},
      {"empty", "", ""},
      {"19 characters fit", std::string(19, 'S'), std::string(19, 'S')},
      {"longer ones are cut to 19", std::string(40, 'L'), std::string(19, 'L')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RecoveryRequest r = make_search_request(c.serial.c_str());
    EXPECT_EQ(bytes_of(r)[0], 0);
    EXPECT_EQ(std::string(r.serial, strnlen(r.serial, sizeof r.serial)), c.expected);
    EXPECT_TRUE(all_zero(r, 8 + static_cast<int>(c.expected.size()), 28));
    EXPECT_TRUE(all_zero(r, 1, 8));  // reserved and magic: the exchange writes the magic
    EXPECT_TRUE(all_zero(r, 28, recovery_request_size));
  }
}

TEST(RecoveryRequest, StartRequestPutsThePortHighByteFirstAndTheFileNameAtOffset32) {
  const RecoveryRequest r = make_start_request("AB12", 0x0146, "/vxt1a2b.bin");
  const std::uint8_t* b = bytes_of(r);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 8)), "AB12");
  EXPECT_EQ(b[28], 0x01);
  EXPECT_EQ(b[29], 0x46);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 32)), "/vxt1a2b.bin");
  EXPECT_TRUE(all_zero(r, 1, 8));
  EXPECT_TRUE(all_zero(r, 30, 32));
  EXPECT_TRUE(all_zero(r, 32 + 12, recovery_request_size));

  // A name that fills the field still leaves its terminating zero.
  const std::string long_name(200, 'n');
  const RecoveryRequest l = make_start_request("", 69, long_name.c_str());
  EXPECT_EQ(std::string(l.file_name, strnlen(l.file_name, sizeof l.file_name)),
            long_name.substr(0, 127));
  EXPECT_EQ(bytes_of(l)[159], 0);
  EXPECT_EQ(bytes_of(l)[28], 0);
  EXPECT_EQ(bytes_of(l)[29], 69);
}

TEST(BytesToHex, UpperCaseDigitsHighNibbleFirst) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* expected;
  } cases[] = {
      {{}, ""},
      {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, "001A2B3C4D5E"},
      {{0xff, 0x09, 0xa0, 0x10}, "FF09A010"},
  };
  for (const Case& c : cases) {
    char out[32];
    std::memset(out, 'x', sizeof out);
    bytes_to_hex(c.bytes.data(), c.bytes.size(), out);
    EXPECT_STREQ(out, c.expected);
  }
}

class DecodeRecoveryReply : public ::testing::Test {
 protected:
  void SetUp() override { session = SessionState{}; }

  // A reply with the given fields; each text is written with memcpy, so a 20-character one
  // has no zero byte.
  static void put_reply(const std::string& serial, const std::string& product,
                        const std::string& software, const std::string& hardware,
                        std::uint8_t fill = 0) {
    std::memset(session.recovery_reply, fill, sizeof session.recovery_reply);
    auto put = [](int offset, const std::string& text) {
      std::memset(session.recovery_reply + offset, 0, 20);
      std::memcpy(session.recovery_reply + offset, text.data(), text.size());
    };
    put(8, serial);
    put(28, product);
    const std::uint8_t mac[] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::memcpy(session.recovery_reply + 48, mac, 6);
    put(54, software);
    put(74, hardware);
    const std::uint8_t address[] = {10, 1, 0, 13};
    std::memcpy(session.recovery_reply + 94, address, 4);
  }
};

TEST_F(DecodeRecoveryReply, FillsTheFiveTextsAndTheAddressMostSignificantByteFirst) {
  put_reply("OTHER-SERIAL", "VXT-200", "1.0.0", "HW-1", 0xee);
  std::strcpy(session.recovery_serial, "TYPED");
  std::strcpy(session.device_info.product_name, "a much longer earlier text that must go");
  decode_recovery_reply();
  const DeviceInfo& d = session.device_info;
  EXPECT_STREQ(d.product_name, "VXT-200");
  EXPECT_STREQ(d.mac_address, "001A2B3C4D5E");
  EXPECT_STREQ(d.software_version, "1.0.0");
  EXPECT_STREQ(d.hardware_version, "HW-1");
  EXPECT_STREQ(d.serial_number, "OTHER-SERIAL");  // the device's own, not the typed one
  EXPECT_EQ(session.device_address, 0x0A01000Du);
}

TEST_F(DecodeRecoveryReply, FieldsWithoutAZeroByteGiveTwentyCharactersAndNothingAfterThem) {
  // Every text fills its field, so the bytes that follow each one (the next field, the MAC,
  // the address) are not zero either: none of them may leak into the text before it.
  put_reply(std::string(20, 'S'), std::string(20, 'P'), std::string(20, 'V'), std::string(20, 'H'),
            0x41);
  std::memset(session.recovery_reply + 94, 0x7f, 6);
  decode_recovery_reply();
  const DeviceInfo& d = session.device_info;
  EXPECT_EQ(std::string(d.serial_number), std::string(20, 'S'));
  EXPECT_EQ(std::string(d.product_name), std::string(20, 'P'));
  EXPECT_EQ(std::string(d.software_version), std::string(20, 'V'));
  EXPECT_EQ(std::string(d.hardware_version), std::string(20, 'H'));
  EXPECT_EQ(session.device_address, 0x7f7f7f7fu);
}

TEST_F(DecodeRecoveryReply, AReplyWithoutAnyZeroByteStaysWithinItsFields) {
  std::memset(session.recovery_reply, 0xff, sizeof session.recovery_reply);
  decode_recovery_reply();
  const DeviceInfo& d = session.device_info;
  EXPECT_EQ(std::string(d.product_name), std::string(20, '\xff'));
  EXPECT_STREQ(d.mac_address, "FFFFFFFFFFFF");
  EXPECT_EQ(std::strlen(d.serial_number), 20u);
  EXPECT_EQ(session.device_address, 0xffffffffu);
}

TEST_F(DecodeRecoveryReply, AnAllZeroReplyGivesEmptyTextsAndAddressZero) {
  session.device_address = 0x01020304;
  std::strcpy(session.device_info.hardware_version, "old");
  decode_recovery_reply();
  EXPECT_STREQ(session.device_info.hardware_version, "");
  EXPECT_STREQ(session.device_info.mac_address, "000000000000");
  EXPECT_EQ(session.device_address, 0u);
}

}  // namespace
}  // namespace vxt
