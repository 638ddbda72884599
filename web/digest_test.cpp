#include "web/digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/random.h"

namespace vxt {
namespace {

// Known answers: the RFC 2617 example, and values computed independently (Python's hashlib)
// for the wizard's own page and credentials.
TEST(Digest, Rfc2617ExampleGivesItsResponse) {
  const std::string ha1 = compute_ha1("MD5", "Mufasa", "testrealm@host.com", "Circle Of Life",
                                      "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b");
  EXPECT_EQ(ha1, "939e7578ed9e3c518a452acee763bce9");
  EXPECT_EQ(compute_request_digest(ha1.c_str(), "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001",
                                   "0a4f113b", "auth", "GET", "/dir/index.html", ""),
            "6629fae49393a05397450978507c4ef1");
}

TEST(Digest, KnownAnswersForEachQopAndAlgorithm) {
  const char* nonce = "4e6f6e6365";
  const std::string plain = "40f9c5899f8535d8e111d26d34abdd74";
  const std::string session_key = "50477aa5217ee4b1af11c06beca2b241";
  struct Case {
    const char* algorithm;
    const char* qop;
    const char* nc;
    const char* ha1;
    const char* response;
  } cases[] = {
      {"", "", "", plain.c_str(), "8cc2f586ce4809d924eb16ed58b0571e"},
      {"MD5", "auth", "000000001", plain.c_str(), "30fdc7ec2ca3e7a131cef97151c3ff4b"},
      {"MD5-sess", "auth-int", "000000002", session_key.c_str(),
       "4e71cd5a7b55b51190e2f17f3c1b4fd1"},
      {"md5-SESS", "AUTH-INT", "000000002", session_key.c_str(), nullptr},
      {"MD5", "auth,auth-int", "000000001", plain.c_str(), "d6df2ebb35ef0140d30c75e5ca0801db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.algorithm) + " / " + c.qop);
    const std::string ha1 = compute_ha1(c.algorithm, "admin", "VXT", "secret", nonce, "1f");
    EXPECT_EQ(ha1, c.ha1);
    if (c.response != nullptr) {
      EXPECT_EQ(compute_request_digest(ha1.c_str(), nonce, c.nc, "1f", c.qop, "GET",
                                       "/admin/advanced", ""),
                c.response);
    }
  }
  // Without qop neither nc nor cnonce take part.
  EXPECT_EQ(compute_request_digest(plain.c_str(), nonce, "000000007", "beef", "", "GET",
                                   "/admin/advanced", ""),
            "8cc2f586ce4809d924eb16ed58b0571e");
}

struct Parsed {
  bool ok;
  const char* realm;
  const char* nonce;
  const char* algorithm;
  const char* qop;
  const char* opaque;
};

TEST(Digest, ParseChallengeTable) {
  const std::string long_value(3000, 'x');
  const std::string long_challenge =
      "WWW-Authenticate: Digest realm=\"" + long_value + "\",nonce=\"" + long_value + "\",qop=\"" +
      long_value + "\",algorithm=\"" + long_value + "\",opaque=\"" + long_value + "\"";
  const std::string cut127(127, 'x');
  const std::string cut15(15, 'x');
  struct Case {
    const char* name;
    std::string challenge;
    Parsed want;
  } cases[] = {
      {"all fields",
       "WWW-Authenticate: Digest realm=\"VXT\",nonce=\"n1\",qop=\"auth\","
       "algorithm=\"MD5\",opaque=\"op\"\r\n\r\n<html>",
       {true, "VXT", "n1", "MD5", "auth", "op"}},
      {"any order",
       "WWW-Authenticate: Digest opaque=\"op\", qop=\"auth-int\", nonce=\"n2\", "
       "algorithm=\"MD5-sess\", realm=\"R\"",
       {true, "R", "n2", "MD5-sess", "auth-int", "op"}},
      {"qop list stays whole",
       "WWW-Authenticate: Digest realm=\"R\",nonce=\"n\",qop=\"auth,auth-int\"",
       {true, "R", "n", "", "auth,auth-int", ""}},
      {"unquoted parameters are not seen",
       "WWW-Authenticate: Digest realm=\"R\",nonce=\"n\",algorithm=MD5,qop=auth,opaque=o",
       {true, "R", "n", "", "", ""}},
      {"unterminated quote runs to the end",
       "WWW-Authenticate: Digest nonce=\"n\",realm=\"open",
       {true, "open", "n", "", "", ""}},
      {"first occurrence wins",
       "realm=\"a\" nonce=\"1\" realm=\"b\" nonce=\"2\"",
       {true, "a", "1", "", "", ""}},
      {"letter case of keys matters", "Realm=\"R\",nonce=\"n\"", {false, "", "", "", "", ""}},
      {"blank before the equals sign", "realm =\"R\",nonce=\"n\"", {false, "", "", "", "", ""}},
      {"no realm", "WWW-Authenticate: Digest nonce=\"n\"", {false, "", "", "", "", ""}},
      {"no nonce keeps the new realm",
       "WWW-Authenticate: Digest realm=\"R\",nonce=n",
       {false, "R", "", "", "", ""}},
      {"empty values", "realm=\"\",nonce=\"\",qop=\"\"", {true, "", "", "", "", ""}},
      {"values cut to their fields",
       long_challenge,
       {true, cut127.c_str(), cut127.c_str(), cut15.c_str(), cut15.c_str(), cut127.c_str()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DigestState d;
    EXPECT_EQ(parse_challenge(c.challenge.c_str(), d), c.want.ok);
    EXPECT_STREQ(d.realm, c.want.realm);
    EXPECT_STREQ(d.nonce, c.want.nonce);
    EXPECT_STREQ(d.algorithm, c.want.algorithm);
    EXPECT_STREQ(d.qop, c.want.qop);
    EXPECT_STREQ(d.opaque, c.want.opaque);
    if (!c.want.ok) {
      EXPECT_STREQ(d.cnonce, "");
    }
  }
}

TEST(Digest, FailedParseChangesNothingElse) {
  DigestState d;
  std::strcpy(d.nonce, "kept");
  std::strcpy(d.qop, "auth");
  std::strcpy(d.cnonce, "1a");
  d.nonce_count = 4;
  EXPECT_FALSE(parse_challenge("nonce=\"new\"", d));
  EXPECT_STREQ(d.nonce, "kept");
  EXPECT_STREQ(d.qop, "auth");
  EXPECT_STREQ(d.cnonce, "1a");
  EXPECT_EQ(d.nonce_count, 4u);
}

TEST(Digest, NonceCountAndClientNonceAcrossChallenges) {
  seed_random(12345);
  char expected[3][16];
  for (auto& e : expected) std::snprintf(e, sizeof e, "%x", next_random());
  seed_random(12345);

  DigestState d;
  ASSERT_TRUE(parse_challenge("realm=\"R\",nonce=\"n1\",qop=\"auth\",opaque=\"o\"", d));
  EXPECT_EQ(d.nonce_count, 0u);
  EXPECT_STREQ(d.previous_nonce, "n1");
  EXPECT_STREQ(d.cnonce, expected[0]);
  d.nonce_count = 2;

  // The same nonce again: count kept, new client nonce, the other fields follow the challenge.
  ASSERT_TRUE(parse_challenge("realm=\"R\",nonce=\"n1\"", d));
  EXPECT_EQ(d.nonce_count, 2u);
  EXPECT_STREQ(d.cnonce, expected[1]);
  EXPECT_STREQ(d.qop, "");
  EXPECT_STREQ(d.opaque, "");

  // A new nonce restarts the count.
  ASSERT_TRUE(parse_challenge("realm=\"R\",nonce=\"n2\"", d));
  EXPECT_EQ(d.nonce_count, 0u);
  EXPECT_STREQ(d.previous_nonce, "n2");
  EXPECT_STREQ(d.cnonce, expected[2]);
}

DigestState wizard_state(const char* algorithm, const char* qop, const char* opaque,
                         std::uint32_t count) {
  DigestState d;
  std::strcpy(d.user, "admin");
  std::strcpy(d.password, "secret");
  std::strcpy(d.realm, "VXT");
  std::strcpy(d.nonce, "4e6f6e6365");
  std::strcpy(d.cnonce, "1f");
  std::strcpy(d.uri, "/admin/advanced");
  std::strcpy(d.algorithm, algorithm);
  std::strcpy(d.qop, qop);
  std::strcpy(d.opaque, opaque);
  d.nonce_count = count;
  return d;
}

TEST(Digest, AuthorizationLineByteForByte) {
  const std::string head =
      "Authorization: Digest username=\"admin\",realm=\"VXT\",nonce=\"4e6f6e6365\","
      "uri=\"/admin/advanced\",";
  struct Case {
    const char* name;
    DigestState state;
    std::string line;
  } cases[] = {
      {"no qop, no algorithm", wizard_state("", "", "", 1),
       head + "algorithm=\"\",response=\"8cc2f586ce4809d924eb16ed58b0571e\"\r\n"},
      {"qop auth with opaque", wizard_state("MD5", "auth", "op/aque", 1),
       head + "algorithm=\"MD5\",response=\"30fdc7ec2ca3e7a131cef97151c3ff4b\",opaque=\"op/aque\","
              "qop=auth,nc=000000001,cnonce=\"1f\"\r\n"},
      {"session key, auth-int, second use", wizard_state("MD5-sess", "auth-int", "", 2),
       head + "algorithm=\"MD5-sess\",response=\"4e71cd5a7b55b51190e2f17f3c1b4fd1\","
              "qop=auth-int,nc=000000002,cnonce=\"1f\"\r\n"},
      {"qop list", wizard_state("MD5", "auth,auth-int", "", 1),
       head + "algorithm=\"MD5\",response=\"d6df2ebb35ef0140d30c75e5ca0801db\","
              "qop=auth,auth-int,nc=000000001,cnonce=\"1f\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char out[1024];
    std::memset(out, '#', sizeof out);
    const DigestState before = c.state;
    const int n = build_authorization(c.state, out, sizeof out);
    EXPECT_EQ(std::string(out), c.line);
    EXPECT_EQ(n, static_cast<int>(c.line.size()));
    EXPECT_EQ(std::memcmp(&before, &c.state, sizeof before), 0);  // the state is only read
  }
}

TEST(Digest, NonceCountOfNineHexDigits) {
  char out[1024];
  build_authorization(wizard_state("MD5", "auth", "", 0x1ab), out, sizeof out);
  EXPECT_NE(std::strstr(out, ",nc=0000001ab,"), nullptr) << out;
}

TEST(Digest, AuthorizationThatDoesNotFitWritesNothingPastTheBuffer) {
  const DigestState d = wizard_state("MD5", "auth", "op", 1);
  char full[1024];
  const int length = build_authorization(d, full, sizeof full);
  ASSERT_GT(length, 0);
  for (int capacity : {1, 10, length - 1, length}) {
    SCOPED_TRACE(capacity);
    char out[1024];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(build_authorization(d, out, static_cast<std::size_t>(capacity)), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[capacity], '#');
  }
  char exact[1024];
  EXPECT_EQ(build_authorization(d, exact, static_cast<std::size_t>(length) + 1), length);
}

}  // namespace
}  // namespace vxt
