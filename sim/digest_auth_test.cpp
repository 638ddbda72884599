#include "sim/digest_auth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "web/md5.h"

namespace sim {
namespace {

using vxt::md5_hex;

TEST(SimDigestHeader, ReadsTheWaysClientsWriteIt) {
  struct Case {
    const char* header;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      // curl: blanks after commas, nc with eight digits, qop unquoted
      {"Digest username=\"admin\", realm=\"VXT\", nonce=\"abc\", uri=\"/admin/advanced\", "
       "cnonce=\"Zm9v\", "
       "nc=00000001, qop=auth, response=\"0123\", algorithm=MD5",
       {{"username", "admin"},
        {"realm", "VXT"},
        {"nonce", "abc"},
        {"uri", "/admin/advanced"},
        {"cnonce", "Zm9v"},
        {"nc", "00000001"},
        {"qop", "auth"},
        {"response", "0123"},
        {"algorithm", "MD5"}}},
      // the wizard: no blanks, algorithm always quoted (maybe empty), the qop list unquoted
      {"Digest "
       "username=\"admin\",realm=\"VXT\",nonce=\"n\",uri=\"/a\",algorithm=\"\",response=\"r\","
       "qop=auth,auth-int,nc=000000001,cnonce=\"1f\"",
       {{"username", "admin"},
        {"realm", "VXT"},
        {"nonce", "n"},
        {"uri", "/a"},
        {"algorithm", ""},
        {"response", "r"},
        {"qop", "auth,auth-int"},
        {"nc", "000000001"},
        {"cnonce", "1f"}}},
      // escapes inside quotes, upper-case scheme and names, blanks around the equals sign
      {"DIGEST Username = \"a\\\"b\" ,REALM=\"x,y\"", {{"username", "a\"b"}, {"realm", "x,y"}}},
  };
  for (const Case& c : cases) {
    const auto parsed = parse_digest_authorization(c.header);
    ASSERT_TRUE(parsed.has_value()) << c.header;
    EXPECT_EQ(*parsed, c.expected) << c.header;
  }
}

TEST(SimDigestHeader, RefusesMalformedHeaders) {
  for (const char* header : {
           "Basic YWRtaW46c2VjcmV0",                  // another scheme
           "Digest",                                  // nothing after the scheme
           "Digestusername=\"a\"",                    // no blank after the scheme
           "Digest username=\"a",                     // unterminated quote
           "Digest username=\"a\", username=\"b\"",   // a parameter twice
           "Digest auth, username=\"a\"",             // a bare token with nothing to extend
           "Digest username=\"a\", realm=\"b\",qop",  // a bare token after a quoted value
           "Digest username=\"a\"x",                  // text glued to a quoted value
           "Digest username=",                        // empty unquoted value
       }) {
    EXPECT_FALSE(parse_digest_authorization(header).has_value()) << header;
  }
}

// The worked example of RFC 2617, section 3.5.
TEST(SimDigestAuthenticator, AcceptsTheRfc2617Example) {
  AuthConfig config;
  config.user = "Mufasa";
  config.password = "Circle Of Life";
  config.realm = "testrealm@host.com";
  config.qop = DigestQop::auth;
  config.algorithm = DigestAlgorithm::none;
  config.opaque = "5ccc069c403ebaf9f0171e9517f40e41";
  DigestAuthenticator authenticator(
      config, {}, [] { return std::string("dcd98b7102dd2f0e8b11d0f600bfb0c093"); });
  EXPECT_EQ(authenticator.challenge(false),
            "Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
            "qop=\"auth\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  const std::string header =
      "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
      "uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
      "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
  EXPECT_EQ(authenticator.verify(&header, "GET", "/dir/index.html"), DigestVerdict::accepted);
  // The same request again is a replay of nonce count 1.
  EXPECT_EQ(authenticator.verify(&header, "GET", "/dir/index.html"),
            DigestVerdict::wrong_credentials);
}

// The client's side, written the way the wizard writes it: no blanks, nc with nine digits,
// algorithm always quoted, the offered qop text echoed unquoted.
struct WizardClient {
  std::string user = "admin";
  std::string password = "secret";
  std::string realm = "VXT";
  std::string algorithm;  // as quoted in the challenge, possibly empty
  std::string qop;        // as quoted in the challenge, possibly a list
  std::string opaque;
  std::string cnonce = "3a7";

  std::string header(const std::string& nonce, unsigned count, const std::string& uri) const {
    std::string ha1 = md5_hex(user + ":" + realm + ":" + password);
    if (algorithm == "MD5-sess") {
      const std::string a1 = user + ":" + realm + ":" + password;
      const vxt::Md5Digest raw = vxt::md5(a1.data(), a1.size());
      const std::string session = std::string(raw.begin(), raw.end()) + ":" + nonce + ":" + cnonce;
      ha1 = md5_hex(session);
    }
    std::string a2 = "GET:" + uri;
    if (qop == "auth-int") a2 += ":" + md5_hex("");
    char nc[16];
    std::snprintf(nc, sizeof nc, "%09x", count);
    const std::string response =
        qop.empty()
            ? md5_hex(ha1 + ":" + nonce + ":" + md5_hex(a2))
            : md5_hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + md5_hex(a2));
    std::string line = "Digest username=\"" + user + "\",realm=\"" + realm + "\",nonce=\"" + nonce +
                       "\",uri=\"" + uri + "\",algorithm=\"" + algorithm + "\",response=\"" +
                       response + "\"";
    if (!opaque.empty()) line += ",opaque=\"" + opaque + "\"";
    if (!qop.empty()) line += ",qop=" + qop + ",nc=" + nc + ",cnonce=\"" + cnonce + "\"";
    return line;
  }
};

std::string quoted_value(const std::string& challenge, const std::string& name) {
  const std::string key = name + "=\"";
  const std::size_t at = challenge.find(key);
  if (at == std::string::npos) return "";
  const std::size_t end = challenge.find('"', at + key.size());
  return challenge.substr(at + key.size(), end - at - key.size());
}

TEST(SimDigestAuthenticator, AcceptsTheWizardForEveryQopAndAlgorithm) {
  const std::vector<std::pair<DigestQop, std::string>> qops = {
      {DigestQop::none, ""},
      {DigestQop::auth, "auth"},
      {DigestQop::auth_int, "auth-int"},
      {DigestQop::auth_list, "auth,auth-int"}};
  const std::vector<std::pair<DigestAlgorithm, std::string>> algorithms = {
      {DigestAlgorithm::none, ""},
      {DigestAlgorithm::md5, "MD5"},
      {DigestAlgorithm::md5_sess, "MD5-sess"}};
  for (const auto& qop : qops) {
    for (const auto& algorithm : algorithms) {
      SCOPED_TRACE("qop \"" + qop.second + "\" algorithm \"" + algorithm.second + "\"");
      AuthConfig config;
      config.password = "secret";
      config.qop = qop.first;
      config.algorithm = algorithm.first;
      config.opaque = "op4que";
      DigestAuthenticator authenticator(config);
      const std::string challenge = authenticator.challenge(false);
      EXPECT_EQ(quoted_value(challenge, "qop"), qop.second);
      EXPECT_EQ(quoted_value(challenge, "algorithm"), algorithm.second);
      EXPECT_EQ(quoted_value(challenge, "opaque"), "op4que");

      WizardClient client;
      client.algorithm = quoted_value(challenge, "algorithm");
      client.qop = quoted_value(challenge, "qop");
      client.opaque = quoted_value(challenge, "opaque");
      const std::string nonce = quoted_value(challenge, "nonce");
      const std::string first = client.header(nonce, 1, "/admin/advanced");
      if (algorithm.first == DigestAlgorithm::md5_sess && qop.first == DigestQop::none) {
        // Without qop the client sends no cnonce, so the session key cannot be checked.
        EXPECT_EQ(authenticator.verify(&first, "GET", "/admin/advanced"),
                  DigestVerdict::wrong_credentials);
        continue;
      }
      EXPECT_EQ(authenticator.verify(&first, "GET", "/admin/advanced"), DigestVerdict::accepted);
      const std::string second =
          client.header(nonce, 2, "/admin/upgrade?tftp://10.1.0.2:69/vxt1e27.bin");
      EXPECT_EQ(
          authenticator.verify(&second, "GET", "/admin/upgrade?tftp://10.1.0.2:69/vxt1e27.bin"),
          DigestVerdict::accepted);

      client.password = "wrong";
      const std::string wrong = client.header(nonce, 3, "/admin/advanced");
      EXPECT_EQ(authenticator.verify(&wrong, "GET", "/admin/advanced"),
                DigestVerdict::wrong_credentials);
      EXPECT_EQ(quoted_value(authenticator.challenge(false), "nonce"), nonce)
          << "refused under the same nonce";
    }
  }
}

TEST(SimDigestAuthenticator, RefusesWhatDoesNotCheckOut) {
  AuthConfig config;
  config.password = "secret";
  config.qop = DigestQop::auth_list;
  config.algorithm = DigestAlgorithm::md5;
  config.opaque = "op";
  DigestAuthenticator authenticator(config);
  const std::string nonce = quoted_value(authenticator.challenge(false), "nonce");
  WizardClient good;
  good.algorithm = "MD5";
  good.qop = "auth";
  good.opaque = "op";

  struct Case {
    const char* what;
    std::string header;
    std::string uri;
  };
  WizardClient other_user = good;
  other_user.user = "root";
  WizardClient other_realm = good;
  other_realm.realm = "elsewhere";
  WizardClient no_opaque = good;
  no_opaque.opaque.clear();
  WizardClient sess_claim = good;
  sess_claim.algorithm = "MD5-sess";
  WizardClient unoffered_qop = good;
  unoffered_qop.qop = "auth-conf";
  std::string without_qop = good.header(nonce, 1, "/admin/advanced");
  without_qop = without_qop.substr(0, without_qop.find(",qop="));
  std::string nc_zero = good.header(nonce, 0, "/admin/advanced");
  const Case cases[] = {
      {"digest-uri differs from the request", good.header(nonce, 1, "/admin/other"),
       "/admin/advanced"},
      {"another user", other_user.header(nonce, 1, "/admin/advanced"), "/admin/advanced"},
      {"another realm", other_realm.header(nonce, 1, "/admin/advanced"), "/admin/advanced"},
      {"opaque missing", no_opaque.header(nonce, 1, "/admin/advanced"), "/admin/advanced"},
      {"claims MD5-sess when MD5 was offered", sess_claim.header(nonce, 1, "/admin/advanced"),
       "/admin/advanced"},
      {"a qop that was not offered", unoffered_qop.header(nonce, 1, "/admin/advanced"),
       "/admin/advanced"},
      {"no qop although one was offered", without_qop, "/admin/advanced"},
      {"nonce count 0", nc_zero, "/admin/advanced"},
      {"not a Digest header", "Basic YWRtaW46c2VjcmV0", "/admin/advanced"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(authenticator.verify(&c.header, "GET", c.uri), DigestVerdict::wrong_credentials)
        << c.what;
  }
  EXPECT_EQ(authenticator.verify(nullptr, "GET", "/admin/advanced"), DigestVerdict::missing);
  // After all those refusals the right answer still gets in, with nc 1 and then curl's 8 digits.
  const std::string right = good.header(nonce, 1, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&right, "GET", "/admin/advanced"), DigestVerdict::accepted);
  std::string eight_digits = good.header(nonce, 2, "/admin/advanced");
  eight_digits.replace(eight_digits.find("nc=000000002"), 12, "nc=00000002");
  // The digest covers the nc text as sent, so re-sign it with eight digits.
  const std::string ha1 = md5_hex("admin:VXT:secret");
  const std::string expected =
      md5_hex(ha1 + ":" + nonce + ":00000002:3a7:auth:" + md5_hex("GET:/admin/advanced"));
  const std::size_t response_at = eight_digits.find("response=\"") + 10;
  eight_digits.replace(response_at, 32, expected);
  EXPECT_EQ(authenticator.verify(&eight_digits, "GET", "/admin/advanced"), DigestVerdict::accepted);
}

// Clients that share a nonce each count from 1; a replay repeats a client nonce and its count.
TEST(SimDigestAuthenticator, CountsRequestsPerClientNonce) {
  AuthConfig config;
  config.password = "secret";
  config.qop = DigestQop::auth;
  DigestAuthenticator authenticator(config);
  const std::string nonce = quoted_value(authenticator.challenge(false), "nonce");
  WizardClient first;
  first.algorithm = "MD5";
  first.qop = "auth";
  WizardClient second = first;
  second.cnonce = "77aa";
  const std::string first_1 = first.header(nonce, 1, "/admin/advanced");
  const std::string second_1 = second.header(nonce, 1, "/admin/advanced");
  const std::string first_3 = first.header(nonce, 3, "/admin/advanced");
  const std::string first_2 = first.header(nonce, 2, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&first_1, "GET", "/admin/advanced"), DigestVerdict::accepted);
  EXPECT_EQ(authenticator.verify(&second_1, "GET", "/admin/advanced"), DigestVerdict::accepted);
  EXPECT_EQ(authenticator.verify(&second_1, "GET", "/admin/advanced"),
            DigestVerdict::wrong_credentials);
  EXPECT_EQ(authenticator.verify(&first_3, "GET", "/admin/advanced"), DigestVerdict::accepted);
  EXPECT_EQ(authenticator.verify(&first_2, "GET", "/admin/advanced"),
            DigestVerdict::wrong_credentials);
}

TEST(SimDigestAuthenticator, NoncesExpireByUsesAndByTime) {
  std::uint64_t now = 1000;
  AuthConfig config;
  config.password = "secret";
  config.qop = DigestQop::auth;
  config.nonce_max_uses = 2;
  config.nonce_lifetime_ms = 500;
  DigestAuthenticator authenticator(config, [&now] { return now; });
  WizardClient client;
  client.algorithm = "MD5";
  client.qop = "auth";

  // By uses: two accepted requests, the third finds the nonce stale.
  std::string nonce = quoted_value(authenticator.challenge(false), "nonce");
  for (unsigned count = 1; count <= 2; ++count) {
    const std::string header = client.header(nonce, count, "/admin/advanced");
    EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::accepted);
  }
  std::string header = client.header(nonce, 3, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::stale_nonce);
  const std::string fresh_challenge = authenticator.challenge(true);
  const std::string fresh = quoted_value(fresh_challenge, "nonce");
  EXPECT_NE(fresh, nonce);
  EXPECT_NE(fresh_challenge.find("stale=TRUE"), std::string::npos);

  // A new nonce starts its counts anew.
  header = client.header(fresh, 1, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::accepted);

  // By time: just before the lifetime ends it is good, at the end it is stale.
  now += 499;
  header = client.header(fresh, 2, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::accepted);
  const std::string later = quoted_value(authenticator.challenge(false), "nonce");
  EXPECT_NE(later, fresh) << "the use limit of 2 was reached as well";
  now += 500;
  header = client.header(later, 1, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::stale_nonce);

  // A nonce that was never issued is stale too, so the client learns the current one.
  header = client.header("0000", 1, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::stale_nonce);
}

TEST(SimDigestAuthenticator, UnquotedAlgorithmLeavesTheClientOnPlainMd5) {
  AuthConfig config;
  config.password = "secret";
  config.algorithm = DigestAlgorithm::md5;
  config.quote_algorithm = false;
  DigestAuthenticator authenticator(config);
  const std::string challenge = authenticator.challenge(false);
  EXPECT_NE(challenge.find(", algorithm=MD5"), std::string::npos);
  WizardClient client;  // it sees no quoted algorithm and sends algorithm=""
  client.qop = "auth";
  const std::string header = client.header(quoted_value(challenge, "nonce"), 1, "/admin/advanced");
  EXPECT_EQ(authenticator.verify(&header, "GET", "/admin/advanced"), DigestVerdict::accepted);
}

}  // namespace
}  // namespace sim
