#include "sim/web_responder.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/info_page.h"
#include "sim/udp_socket.h"
#include "web/md5.h"

namespace sim {
namespace {

// The information page is read by taking the text after a label and the tags that stand
// directly behind it, up to the next tag.
std::string labelled_value(const std::string& page, const std::string& label) {
  std::size_t at = page.find(label);
  if (at == std::string::npos) return "<missing>";
  at = page.find('>', at);
  if (at == std::string::npos) return "<missing>";
  ++at;
  while (at < page.size() && page[at] == '<') {
    at = page.find('>', at);
    if (at == std::string::npos) return "<missing>";
    ++at;
  }
  return page.substr(at, page.find('<', at) - at);
}

int status_of(const WebReply& reply) {
  if (reply.bytes.size() < 12) return -1;
  return std::stoi(reply.bytes.substr(9, 3));
}

std::string body_of(const WebReply& reply) {
  const std::size_t end = reply.bytes.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.bytes.substr(end + 4);
}

TEST(SimUpgradeTarget, TakesServerPortAndName) {
  const auto command = parse_upgrade_target("/admin/upgrade?tftp://10.1.0.2:70/vxt1e27.bin");
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(format_ipv4(command->server_address), "10.1.0.2");
  EXPECT_EQ(command->server_port, 70);
  EXPECT_EQ(command->file_name, "/vxt1e27.bin");

  for (const char* bad : {
           "/admin/upgrade?tftp://10.1.0.2/vxt.bin",        // no port
           "/admin/upgrade?tftp://10.1.0.2:/vxt.bin",       // empty port
           "/admin/upgrade?tftp://10.1.0.2:0/vxt.bin",      // port 0
           "/admin/upgrade?tftp://10.1.0.2:65536/vxt.bin",  // port too large
           "/admin/upgrade?tftp://10.1.0.2:6a/vxt.bin",     // port not a number
           "/admin/upgrade?tftp://10.1.0.256:69/vxt.bin",   // address part too large
           "/admin/upgrade?tftp://10.1.0:69/vxt.bin",       // three parts
           "/admin/upgrade?tftp://10.1.0.2:69",             // no name
           "/admin/upgrade?tftp://10.1.0.2:69/",            // empty name
           "/admin/upgrade?http://10.1.0.2:69/vxt.bin",     // another scheme
       }) {
    EXPECT_FALSE(parse_upgrade_target(bad).has_value()) << bad;
  }
}

class SimWebResponder : public ::testing::Test {
 protected:
  WebReply ask(const std::string& head, bool busy = false) {
    WebResponder responder(config);
    return responder.respond(head, false, config.identity, busy);
  }

  DeviceConfig config;
};

TEST_F(SimWebResponder, ServesTheInformationPageWithTheFiveLabels) {
  config.identity.product_name = "VXT-3000";
  config.identity.software_version = "2.1.7";
  const WebReply reply = ask("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n");
  EXPECT_EQ(reply.action, WebReply::Action::respond);
  EXPECT_EQ(reply.bytes.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0);
  const std::string body = body_of(reply);
  EXPECT_NE(reply.bytes.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(labelled_value(body, "Product Name:"), "VXT-3000");
  EXPECT_EQ(labelled_value(body, "MAC Address:"), "001A2B3C4D5E");
  EXPECT_EQ(labelled_value(body, "Software Version:"), "2.1.7");
  EXPECT_EQ(labelled_value(body, "Hardware Version:"), "HW-1");
  EXPECT_EQ(labelled_value(body, "Serial Number:"), "VX0001");
}

TEST_F(SimWebResponder, RoutesAndRefusesByTable) {
  struct Case {
    const char* head;
    int status;
    bool upgrade;
  };
  const Case cases[] = {
      {"GET /admin/upgrade?tftp://127.0.0.1:69/vxt2f1a.bin HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n",
       200, true},
      {"GET /admin/upgrade?tftp://127.0.0.1/vxt2f1a.bin HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n", 400,
       false},
      {"GET /admin/advanced?x HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n", 404, false},
      {"GET / HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n", 404, false},
      {"POST /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n", 400,
       false},  // only GET is understood
      {"GET /admin/advanced\r\n\r\n", 400, false},
      {"\x16\x03\x01 binary\r\n\r\n", 400, false},
  };
  for (const Case& c : cases) {
    const WebReply reply = ask(c.head);
    EXPECT_EQ(status_of(reply), c.status) << c.head;
    EXPECT_EQ(reply.upgrade.has_value(), c.upgrade) << c.head;
  }
  const WebReply busy = ask(
      "GET /admin/upgrade?tftp://127.0.0.1:69/vxt2f1a.bin HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n",
      true);
  EXPECT_EQ(status_of(busy), 503);
  EXPECT_FALSE(busy.upgrade.has_value());

  WebResponder responder(config);
  EXPECT_EQ(
      status_of(responder.respond("GET /" + std::string(9000, 'a'), true, config.identity, false)),
      400);
}

TEST_F(SimWebResponder, ChallengesThenServesWithAPassword) {
  config.auth.password = "secret";
  config.auth.qop = DigestQop::none;
  config.auth.algorithm = DigestAlgorithm::none;
  WebResponder responder(config);
  const WebReply refused = responder.respond(
      "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n", false, config.identity, false);
  EXPECT_EQ(refused.bytes.compare(0, 25, "HTTP/1.1 401 Unauthorized"), 0);
  const std::size_t at = refused.bytes.find("WWW-Authenticate: Digest realm=\"VXT\", nonce=\"");
  ASSERT_NE(at, std::string::npos);
  const std::size_t nonce_at = at + 45;
  const std::string nonce =
      refused.bytes.substr(nonce_at, refused.bytes.find('"', nonce_at) - nonce_at);
  EXPECT_EQ(refused.bytes.find("WWW-Authenticate:", at + 1), std::string::npos)
      << "one challenge only";

  // Without qop: response = MD5(HA1:nonce:HA2), computed here from the known inputs.
  const std::string response = vxt::md5_hex(vxt::md5_hex("admin:VXT:secret") + ":" + nonce + ":" +
                                            vxt::md5_hex("GET:/admin/advanced"));
  const std::string head =
      "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\nAuthorization: Digest "
      "username=\"admin\",realm=\"VXT\",nonce=\"" +
      nonce + "\",uri=\"/admin/advanced\",algorithm=\"\",response=\"" + response + "\"\r\n\r\n";
  const WebReply served = responder.respond(head, false, config.identity, false);
  EXPECT_EQ(status_of(served), 200);
  EXPECT_EQ(labelled_value(body_of(served), "Serial Number:"), "VX0001");
}

TEST_F(SimWebResponder, PlaysTheWebFaults) {
  const std::string head = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n\r\n";
  config.web_faults.close_without_response = true;
  EXPECT_EQ(ask(head).action, WebReply::Action::close_silently);
  config.web_faults.close_without_response = false;

  config.web_faults.no_answer = true;
  EXPECT_EQ(ask(head).action, WebReply::Action::hold);
  config.web_faults.no_answer = false;

  config.auth.password = "secret";
  config.web_faults.unauthorized_without_challenge = true;
  WebReply reply = ask(head);
  EXPECT_EQ(status_of(reply), 401);
  EXPECT_EQ(reply.bytes.find("WWW-Authenticate"), std::string::npos);
  config.web_faults.unauthorized_without_challenge = false;

  config.web_faults.http10_status_line = true;
  reply = ask(head);
  EXPECT_EQ(reply.bytes.compare(0, 12, "HTTP/1.0 401"), 0);
  EXPECT_NE(reply.bytes.find("WWW-Authenticate: Digest"), std::string::npos);
  config.web_faults.http10_status_line = false;
  config.auth.password.clear();

  config.web_faults.page_size = 140000;
  reply = ask(head);
  const std::string body = body_of(reply);
  EXPECT_GE(body.size(), 140000u);
  EXPECT_GT(reply.bytes.size(), 131071u);
  EXPECT_LT(reply.bytes.find("Serial Number:"), 131071u)
      << "the labels stay within what the wizard keeps";
  EXPECT_EQ(labelled_value(body, "Software Version:"), "1.0.0");
}

}  // namespace
}  // namespace sim
