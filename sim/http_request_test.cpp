#include "sim/http_request.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

TEST(SimHttpRequest, FindsTheEmptyLine) {
  EXPECT_FALSE(find_request_head_end("GET / HTTP/1.1\r\nHost: x\r\n").has_value());
  EXPECT_EQ(find_request_head_end("GET / HTTP/1.1\r\n\r\n"), 18u);
  EXPECT_EQ(find_request_head_end("GET / HTTP/1.1\r\n\r\nbody"), 18u);
  EXPECT_EQ(find_request_head_end("GET / HTTP/1.1\n\n"), 16u);
}

TEST(SimHttpRequest, ReadsTheWizardsAndCurlsRequests) {
  const auto wizard = parse_http_request(
      "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.1.1\r\n"
      "Authorization: Digest username=\"admin\",realm=\"VXT\"\r\n\r\n");
  ASSERT_TRUE(wizard.has_value());
  EXPECT_EQ(wizard->method, "GET");
  EXPECT_EQ(wizard->target, "/admin/advanced");
  EXPECT_EQ(wizard->version, "HTTP/1.1");
  ASSERT_NE(wizard->header("authorization"), nullptr);
  EXPECT_EQ(*wizard->header("AUTHORIZATION"), "Digest username=\"admin\",realm=\"VXT\"");
  EXPECT_EQ(wizard->header("Cookie"), nullptr);

  const auto curl = parse_http_request(
      "GET /admin/upgrade?tftp://127.0.0.1:69/f.bin HTTP/1.1\r\nHost: 127.0.0.2\r\n"
      "User-Agent: curl/7.88.1\r\nAccept: */*\r\n\r\n");
  ASSERT_TRUE(curl.has_value());
  EXPECT_EQ(curl->target, "/admin/upgrade?tftp://127.0.0.1:69/f.bin");
  EXPECT_EQ(*curl->header("user-agent"), "curl/7.88.1");

  const auto old = parse_http_request("GET / HTTP/1.0\n\n");
  ASSERT_TRUE(old.has_value());
  EXPECT_EQ(old->version, "HTTP/1.0");
}

TEST(SimHttpRequest, RefusesMalformedHeads) {
  for (const char* head : {
           "\r\n\r\n",                                      // no request line
           "GET /admin/advanced\r\n\r\n",                   // no version
           "GET  /admin/advanced HTTP/1.1\r\n\r\n",         // empty target between two blanks
           "GET /admin/advanced HTTP/1.1 extra\r\n\r\n",    // a third blank
           "GET /admin/advanced FTP/1.0\r\n\r\n",           // not HTTP
           "GET /admin/advanced HTTP/11\r\n\r\n",           // bad version
           "G(T / HTTP/1.1\r\n\r\n",                        // method is no token
           "GET /a\x01 HTTP/1.1\r\n\r\n",                   // control character in the target
           "GET / HTTP/1.1\r\nNoColon\r\n\r\n",             // header without colon
           "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n",     // obsolete line folding
           "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",         // blank in a header name
           "GET / HTTP/1.1\r\nA: b\x01\r\n\r\n",            // control character in a value
           "GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n",  // more than one head
           "GET / HTTP/1.1\r\nHost: x",                     // cut short
       }) {
    EXPECT_FALSE(parse_http_request(head).has_value()) << head;
  }
}

}  // namespace
}  // namespace sim
