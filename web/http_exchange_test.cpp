#include "web/http_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/random.h"
#include "core/session_state.h"
#include "tests/canned_http_peer.h"
#include "web/digest.h"

namespace vxt {
namespace {

const std::string refusal =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"VXT\",nonce=\"n1\","
    "qop=\"auth\"\r\nContent-Length: 0\r\n\r\n";

TEST(WebExchange, RefusalTestTable) {
  const std::string challenge = "WWW-Authenticate: Digest realm=\"R\",nonce=\"n\"\r\n\r\n";
  struct Case {
    const char* name;
    std::string response;
    bool refused;
  } cases[] = {
      {"a complete refusal", refusal, true},
      {"blanks and tabs before the status", "HTTP/1.1 \t  401 X\r\n" + challenge, true},
      {"a tab behind the version", "HTTP/1.1\t401\r\n" + challenge, true},
      {"status that begins with 401", "HTTP/1.1 4012\r\n" + challenge, true},
      {"HTTP/1.0", "HTTP/1.0 401 Unauthorized\r\n" + challenge, false},
      {"lower-case version", "http/1.1 401 Unauthorized\r\n" + challenge, false},
      {"status 200 with a challenge", "HTTP/1.1 200 OK\r\n" + challenge, false},
      {"status 40", "HTTP/1.1 40\r\n" + challenge, false},
      {"401 without a challenge", "HTTP/1.1 401 Unauthorized\r\n\r\n", false},
      {"header name in another case",
       "HTTP/1.1 401 X\r\nwww-authenticate: Digest realm=\"R\",nonce=\"n\"\r\n\r\n", false},
      {"challenge without a nonce", "HTTP/1.1 401 X\r\nWWW-Authenticate: Digest realm=\"R\"",
       false},
      {"challenge without a realm", "HTTP/1.1 401 X\r\nWWW-Authenticate: Digest nonce=\"n\"",
       false},
      {"just the version", "HTTP/1.1", false},
      {"version and blank", "HTTP/1.1 ", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DigestState d;
    EXPECT_EQ(demands_credentials(c.response.c_str(), d), c.refused);
    if (c.refused) {
      EXPECT_STREQ(d.nonce[0] != '\0' ? d.realm : "<no nonce>",
                   c.response == refusal ? "VXT" : "R");
    }
  }
}

TEST(WebExchange, EveryTruncationOfARefusal) {
  // A refusal counts once realm and nonce have begun: unterminated values run to the end.
  const std::size_t needed = refusal.find("nonce=\"") + 7;
  for (std::size_t n = 0; n <= refusal.size(); ++n) {
    SCOPED_TRACE(n);
    const std::string cut = refusal.substr(0, n);
    DigestState d;
    EXPECT_EQ(demands_credentials(cut.c_str(), d), n >= needed);
  }
}

TEST(WebExchange, LabelledTextTable) {
  const std::string long_value(300, 'v');
  struct Case {
    const char* name;
    std::string response;
    const char* label;
    std::string want;  // "untouched" when the field must keep its text
  } cases[] = {
      {"value in the next cell", "<td>Serial Number:</td><td>VX0001</td>",
       "Serial Number:", "VX0001"},
      {"empty cell skipped", "<td>MAC Address:</td><td></td><td>001A2B</td>",
       "MAC Address:", "001A2B"},
      {"line break between tags is the value", "<td>MAC Address:</td>\r\n<td>001A2B</td>",
       "MAC Address:", "\r\n"},
      {"text right after the label's tag", "Product Name:</b> VXT 200 <br>",
       "Product Name:", " VXT 200 "},
      {"copied unchanged", "<td>Product Name:</td><td>&amp; x</td>", "Product Name:", "&amp; x"},
      {"first occurrence, header included", "X-Label: Product Name:>a<\r\n\r\nProduct Name:>b<",
       "Product Name:", "a"},
      {"value up to the end", "Serial Number:<td>VX9", "Serial Number:", "VX9"},
      {"cut to 127", "Serial Number:<td>" + long_value + "</td>",
       "Serial Number:", long_value.substr(0, 127)},
      {"exactly 127", "Serial Number:<td>" + long_value.substr(0, 127) + "<",
       "Serial Number:", long_value.substr(0, 127)},
      {"label at the very end", "<td>Serial Number:", "Serial Number:", "untouched"},
      {"tag without >", "<td>Serial Number:</td><td", "Serial Number:", "untouched"},
      {"label missing", "<td>Serial</td><td>x</td>", "Serial Number:", "untouched"},
      {"label letter case", "<td>serial number:</td><td>x</td>", "Serial Number:", "untouched"},
      {"empty value at the end", "Serial Number:></td>", "Serial Number:", ""},
      {"tag run without its >", "Serial Number:><", "Serial Number:", "untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char field[129];
    std::memset(field, '#', sizeof field);
    std::strcpy(field, "untouched");
    extract_labelled_text(c.response.c_str(), c.label, field, 127);
    EXPECT_EQ(std::string(field), c.want);
    EXPECT_EQ(field[128], '#');  // nothing written past the field's 128 bytes
  }
}

class WebExchangeOverLoopback : public ::testing::Test {
 protected:
  void SetUp() override { session = SessionState{}; }

  static constexpr std::uint32_t loopback = 0x7f000001;

  std::int32_t get(const test::CannedHttpPeer& peer, const char* path = "/admin/advanced") {
    return http_get(loopback, 23456, loopback, peer.port(), path, session.http_buffer,
                    http_capacity);
  }
};

TEST_F(WebExchangeOverLoopback, RequestHeadWithoutAndWithCredentials) {
  test::CannedHttpPeer peer(loopback, 0, {refusal, "HTTP/1.1 200 OK\r\n\r\nhello"});
  ASSERT_TRUE(peer.listening());
  seed_random(7);
  EXPECT_EQ(get(peer), -1);
  EXPECT_STREQ(session.digest.nonce, "n1");
  EXPECT_EQ(session.digest.nonce_count, 0u);

  std::strcpy(session.digest.user, "admin");
  std::strcpy(session.digest.password, "pw");
  EXPECT_EQ(get(peer), 24);
  EXPECT_EQ(session.digest.nonce_count, 1u);
  EXPECT_STREQ(session.digest.uri, "/admin/advanced");

  char authorization[1024];
  ASSERT_GT(build_authorization(session.digest, authorization, sizeof authorization), 0);
  const std::string head = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n";
  ASSERT_EQ(peer.heads().size(), 2u);
  EXPECT_EQ(peer.heads()[0], head + "\r\n");
  EXPECT_EQ(peer.heads()[1], head + authorization + "\r\n");
  EXPECT_NE(peer.heads()[1].find(",nc=000000001,"), std::string::npos);
}

TEST_F(WebExchangeOverLoopback, ResponsesAroundTheCapacity) {
  const std::string status = "HTTP/1.1 200 OK\r\n\r\n";
  for (const std::size_t size :
       {std::size_t{131070}, std::size_t{131071}, std::size_t{131072}, std::size_t{200000}}) {
    SCOPED_TRACE(size);
    std::string page = status + "<td>Serial Number:</td><td>VX7</td>";
    for (std::size_t i = page.size(); i < size; ++i) page += static_cast<char>('a' + i % 26);
    test::CannedHttpPeer peer(loopback, 0, {page});
    ASSERT_TRUE(peer.listening());
    std::memset(session.http_buffer, '#', sizeof session.http_buffer);
    const std::int32_t kept = static_cast<std::int32_t>(std::min<std::size_t>(size, 131071));
    EXPECT_EQ(get(peer), kept);
    EXPECT_EQ(std::memcmp(session.http_buffer, page.data(), static_cast<std::size_t>(kept)), 0);
    EXPECT_EQ(session.http_buffer[kept], '\0');
    EXPECT_STREQ(session.device_info.serial_number, "VX7");
  }
}

TEST_F(WebExchangeOverLoopback, WhatCountsAsAnAnswer) {
  std::strcpy(session.device_info.mac_address, "earlier");
  const std::string challenge = "WWW-Authenticate: Digest realm=\"R\",nonce=\"n\"\r\n\r\n";
  const std::string nul_page =
      std::string("HTTP/1.1 200 OK\r\n\r\n<td>Product Name:</td><td>P1</td>\0", 53) +
      "<td>Serial Number:</td><td>hidden</td>";
  struct Case {
    const char* name;
    std::string response;
    std::int32_t result;
    const char* product;  // product_name afterwards
  } cases[] = {
      {"nothing", "", 0, ""},
      {"401 without a challenge",
       "HTTP/1.1 401 Unauthorized\r\n\r\n<td>Product Name:</td><td>P401</td>", 0, "P401"},
      {"HTTP/1.0 401 with a challenge", "HTTP/1.0 401 Unauthorized\r\n" + challenge, 0, "P401"},
      {"NUL bytes: text ends at the first", nul_page, 0, "P1"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.result = static_cast<std::int32_t>(c.response.size());
    test::CannedHttpPeer peer(loopback, 0, {c.response});
    ASSERT_TRUE(peer.listening());
    const DigestState before = session.digest;
    EXPECT_EQ(get(peer), c.result);
    EXPECT_STREQ(session.device_info.product_name, c.product);
    EXPECT_STREQ(session.device_info.mac_address, "earlier");  // no label, kept
    EXPECT_STREQ(session.device_info.serial_number, "");       // behind the NUL: not seen
    EXPECT_EQ(std::memcmp(&before, &session.digest, sizeof before), 0);
  }
}

}  // namespace
}  // namespace vxt
