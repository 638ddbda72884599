#include "sim/strict_request.h"

#include <gtest/gtest.h>

#include <string>

namespace sim {
namespace {

const std::string kRequestLine = "GET /admin/advanced HTTP/1.1\r\n";
const std::string kHost = "Host: 192.168.1.1\r\n";

TEST(SimStrictHead, AcceptsOnlyTheWizardsHead) {
  struct Case {
    const char* what;
    std::string head;
    const char* rule;  // nullptr: accepted; else a part of the rule named
  };
  const Case cases[] = {
      {"request line, Host, empty line", kRequestLine + kHost + "\r\n", nullptr},
      {"with an Authorization line", kRequestLine + kHost + "Authorization: Digest x\r\n\r\n",
       nullptr},
      {"Host in 10/8", kRequestLine + "Host: 10.0.0.1\r\n\r\n", nullptr},
      {"Host in 172.16/12", kRequestLine + "Host: 172.31.255.1\r\n\r\n", nullptr},
      {"the upgrade command",
       "GET /admin/upgrade?tftp://10.1.0.2:69/vxt1e27.bin HTTP/1.1\r\n" + kHost + "\r\n", nullptr},

      {"no Host", kRequestLine + "\r\n", "no \"Host: \" line"},
      {"two Hosts", kRequestLine + kHost + kHost + "\r\n", "a second Host line"},
      {"a User-Agent line", kRequestLine + kHost + "User-Agent: x\r\n\r\n", "\"User-Agent\""},
      {"a Connection line", kRequestLine + kHost + "Connection: close\r\n\r\n", "\"Connection\""},
      {"HTTP/1.0", "GET /admin/advanced HTTP/1.0\r\n" + kHost + "\r\n", "request line"},
      {"POST", "POST /admin/advanced HTTP/1.1\r\n" + kHost + "\r\n", "request line"},
      {"two blanks in the request line", "GET  /admin/advanced HTTP/1.1\r\n" + kHost + "\r\n",
       "request line"},
      {"bare LF line ends", "GET /admin/advanced HTTP/1.1\nHost: 192.168.1.1\n\n", "bare LF"},
      {"one bare LF", kRequestLine + "Host: 192.168.1.1\n\r\n", "bare LF"},
      {"Host of a public address", kRequestLine + "Host: 8.8.8.8\r\n\r\n", "private"},
      {"Host of loopback", kRequestLine + "Host: 127.0.0.2\r\n\r\n", "private"},
      {"Host just past 172.16/12", kRequestLine + "Host: 172.32.0.1\r\n\r\n", "private"},
      {"Host with a port", kRequestLine + "Host: 192.168.1.1:80\r\n\r\n", "private"},
      {"Host by name", kRequestLine + "Host: vxt.local\r\n\r\n", "private"},
      {"host in lower case", kRequestLine + "host: 192.168.1.1\r\n\r\n", "no \"Host: \" line"},
      {"Authorization before Host", kRequestLine + "Authorization: Digest x\r\n" + kHost + "\r\n",
       "comes before the Host"},
      {"two Authorization lines",
       kRequestLine + kHost + "Authorization: Digest x\r\nAuthorization: Digest y\r\n\r\n",
       "a second Authorization line"},
  };
  for (const Case& c : cases) {
    const auto rule = strict_head_violation(c.head);
    if (c.rule == nullptr) {
      EXPECT_FALSE(rule.has_value()) << c.what << ": " << rule.value_or("");
    } else {
      ASSERT_TRUE(rule.has_value()) << c.what;
      EXPECT_NE(rule->find(c.rule), std::string::npos) << c.what << ": " << *rule;
    }
  }
}

// The wizard's line, piece by piece, with every piece replaceable.
struct WizardLine {
  std::string user = "username=\"admin\"";
  std::string realm = ",realm=\"VXT\"";
  std::string nonce = ",nonce=\"4f2a\"";
  std::string uri = ",uri=\"/admin/advanced\"";
  std::string algorithm = ",algorithm=\"MD5\"";
  std::string response = ",response=\"0123456789abcdef0123456789abcdef\"";
  std::string opaque;
  std::string qop = ",qop=auth";
  std::string nc = ",nc=000000001";
  std::string cnonce = ",cnonce=\"1f\"";
  std::string text() const {
    return "Digest " + user + realm + nonce + uri + algorithm + response + opaque + qop + nc +
           cnonce;
  }
};

TEST(SimStrictAuthorization, AcceptsOnlyTheWizardsDigestForm) {
  AuthConfig offered_auth;  // qop "auth", algorithm "MD5" in quotes, no opaque
  AuthConfig offered_list = offered_auth;
  offered_list.qop = DigestQop::auth_list;
  AuthConfig no_qop = offered_auth;
  no_qop.qop = DigestQop::none;
  no_qop.algorithm = DigestAlgorithm::none;
  AuthConfig unquoted = offered_auth;
  unquoted.quote_algorithm = false;
  AuthConfig with_opaque = offered_auth;
  with_opaque.opaque = "0paque";

  const auto with = [](auto change) {
    WizardLine line;
    change(line);
    return line.text();
  };
  struct Case {
    const char* what;
    const AuthConfig* auth;
    std::string value;
    const char* rule;  // nullptr: accepted
  };
  const Case cases[] = {
      {"qop auth", &offered_auth, WizardLine().text(), nullptr},
      {"the whole offered list", &offered_list,
       with([](WizardLine& l) { l.qop = ",qop=auth,auth-int"; }), nullptr},
      {"no qop offered: nothing after the response", &no_qop, with([](WizardLine& l) {
         l.algorithm = ",algorithm=\"\"";
         l.qop = l.nc = l.cnonce = "";
       }),
       nullptr},
      {"an unquoted algorithm answered with \"\"", &unquoted,
       with([](WizardLine& l) { l.algorithm = ",algorithm=\"\""; }), nullptr},
      {"opaque after the response", &with_opaque,
       with([](WizardLine& l) { l.opaque = ",opaque=\"0paque\""; }), nullptr},

      {"a blank after a comma", &offered_auth,
       with([](WizardLine& l) { l.realm = ", realm=\"VXT\""; }), "a blank after a comma"},
      {"qop quoted", &offered_auth, with([](WizardLine& l) { l.qop = ",qop=\"auth\""; }), "quoted"},
      {"upper-case hex in the response", &offered_auth,
       with([](WizardLine& l) { l.response = ",response=\"0123456789ABCDEF0123456789ABCDEF\""; }),
       "lower-case"},
      {"a short response", &offered_auth,
       with([](WizardLine& l) { l.response = ",response=\"0123\""; }), "32 lower-case"},
      {"no algorithm", &offered_auth, with([](WizardLine& l) { l.algorithm = ""; }),
       "in that order"},
      {"algorithm differs from the challenge's", &offered_auth,
       with([](WizardLine& l) { l.algorithm = ",algorithm=\"md5\""; }), "the challenge sent"},
      {"algorithm named although the challenge left it unquoted", &unquoted, WizardLine().text(),
       "the challenge sent \"\""},
      {"an eight-digit nc", &offered_auth, with([](WizardLine& l) { l.nc = ",nc=00000001"; }),
       "nine"},
      {"an upper-case nc", &offered_auth, with([](WizardLine& l) { l.nc = ",nc=00000000A"; }),
       "nine lower-case"},
      {"qop=auth answering an offered list", &offered_list, WizardLine().text(),
       "the challenge offered \"auth,auth-int\""},
      {"qop although none was offered", &no_qop,
       with([](WizardLine& l) { l.algorithm = ",algorithm=\"\""; }), "in that order"},
      {"no opaque although the challenge had one", &with_opaque, WizardLine().text(),
       "in that order"},
      {"opaque although the challenge had none", &offered_auth,
       with([](WizardLine& l) { l.opaque = ",opaque=\"0paque\""; }), "in that order"},
      {"realm before username", &offered_auth, with([](WizardLine& l) {
         l.user = "realm=\"VXT\"";
         l.realm = ",username=\"admin\"";
       }),
       "in that order"},
      {"the cnonce before nc", &offered_auth, with([](WizardLine& l) {
         l.nc = ",cnonce=\"1f\"";
         l.cnonce = ",nc=000000001";
       }),
       "in that order"},
      {"a trailing blank", &offered_auth, WizardLine().text() + " ", "blanks at the end"},
      {"another scheme", &offered_auth, "Basic YWRtaW46c2VjcmV0", "\"Digest \""},
  };
  for (const Case& c : cases) {
    const auto rule = strict_authorization_violation(c.value, *c.auth);
    if (c.rule == nullptr) {
      EXPECT_FALSE(rule.has_value()) << c.what << ": " << rule.value_or("");
    } else {
      ASSERT_TRUE(rule.has_value()) << c.what;
      EXPECT_NE(rule->find(c.rule), std::string::npos) << c.what << ": " << *rule;
    }
  }
}

}  // namespace
}  // namespace sim
