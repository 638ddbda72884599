#include "sim/strict_request.h"

#include <vector>

#include "sim/digest_auth.h"
#include "sim/udp_socket.h"

namespace sim {
namespace {

bool is_private(std::uint32_t address) {
  return (address >> 24) == 10 || (address >> 20) == ((172u << 4) | 1) || (address >> 16) == 0xC0A8;
}

bool is_lower_hex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool starts_with(const std::string& text, std::size_t at, const std::string& prefix) {
  return text.compare(at, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<std::string> strict_head_violation(const std::string& head) {
  // Every line ends in CR LF: no bare LF, no CR that is not followed by LF.
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) return "a line that ends in a bare LF";
    if (head[i] == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n'))
      return "a CR that is not followed by LF";
  }
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < head.size()) {
    const std::size_t end = head.find("\r\n", at);
    if (end == std::string::npos) return "the head does not end with an empty line";
    lines.push_back(head.substr(at, end - at));
    at = end + 2;
  }
  if (lines.empty() || !lines.back().empty()) return "the head does not end with an empty line";
  lines.pop_back();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) return "an empty line inside the head";
  }

  const std::string& request_line = lines.front();
  const std::string suffix = " HTTP/1.1";
  const bool shaped =
      request_line.size() > 4 + suffix.size() && starts_with(request_line, 0, "GET ") &&
      request_line.compare(request_line.size() - suffix.size(), suffix.size(), suffix) == 0;
  if (!shaped) return "the request line is not \"GET <path> HTTP/1.1\"";
  const std::string path = request_line.substr(4, request_line.size() - 4 - suffix.size());
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) return "the request line is not \"GET <path> HTTP/1.1\"";
  }

  if (lines.size() < 2 || !starts_with(lines[1], 0, "Host: ")) {
    return lines.size() >= 2 && starts_with(lines[1], 0, "Authorization: ")
               ? "the Authorization line comes before the Host line"
               : "no \"Host: \" line right after the request line";
  }
  const auto host = parse_ipv4(lines[1].substr(6));
  if (!host || !is_private(*host)) return "the Host value is not a dotted private IPv4 address";
  for (std::size_t i = 2; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (starts_with(line, 0, "Host:")) return "a second Host line";
    if (!starts_with(line, 0, "Authorization: ")) {
      const std::size_t colon = line.find(':');
      return "a header line other than Host and Authorization: \"" +
             line.substr(0, colon == std::string::npos ? 40 : colon) + "\"";
    }
    if (i != 2) return "a second Authorization line";
  }
  return std::nullopt;
}

std::optional<std::string> strict_authorization_violation(const std::string& value,
                                                          const AuthConfig& auth) {
  if (!starts_with(value, 0, "Digest ")) return "the Authorization line does not start \"Digest \"";
  const std::string qop = offered_qop(auth.qop);
  std::vector<std::string> order = {"username", "realm", "nonce", "uri", "algorithm", "response"};
  if (!auth.opaque.empty()) order.push_back("opaque");
  if (!qop.empty()) {
    order.push_back("qop");
    order.push_back("nc");
    order.push_back("cnonce");
  }
  std::string order_text;
  for (const std::string& name : order) order_text += (order_text.empty() ? "" : ",") + name;

  std::size_t at = 7;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string& name = order[i];
    if (i > 0) {
      if (at >= value.size() || value[at] != ',')
        return "the parameters are not " + order_text + ", in that order";
      ++at;
      if (at < value.size() && (value[at] == ' ' || value[at] == '\t'))
        return "a blank after a comma";
    } else if (at < value.size() && (value[at] == ' ' || value[at] == '\t')) {
      return "more than one blank after \"Digest\"";
    }
    if (!starts_with(value, at, name + "=")) {
      return "the parameters are not " + order_text + ", in that order";
    }
    at += name.size() + 1;
    std::string text;
    if (name == "qop") {
      if (at < value.size() && value[at] == '"') return "the qop value is quoted";
      // The value runs to ",nc=" (a list has commas of its own), unless another parameter
      // stands in between.
      std::size_t end = value.find(",nc=", at);
      if (end == std::string::npos || value.find('=', at) < end) end = value.find(',', at);
      if (end == std::string::npos) end = value.size();
      text = value.substr(at, end - at);
      at = end;
      if (text != qop) return "qop is \"" + text + "\", the challenge offered \"" + qop + "\"";
      continue;
    }
    if (name == "nc") {
      const std::size_t end = value.find(',', at);
      text = value.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at = end == std::string::npos ? value.size() : end;
      if (text.size() != 9 || !is_lower_hex(text))
        return "nc \"" + text + "\" is not nine lower-case hexadecimal digits";
      continue;
    }
    if (at >= value.size() || value[at] != '"') return "the " + name + " value is not quoted";
    const std::size_t close = value.find('"', at + 1);
    if (close == std::string::npos) return "the " + name + " value has no closing quote";
    text = value.substr(at + 1, close - at - 1);
    at = close + 1;
    if (name == "algorithm" && text != challenge_algorithm(auth)) {
      return "algorithm is \"" + text + "\", the challenge sent \"" + challenge_algorithm(auth) +
             "\"";
    }
    if (name == "response" && (text.size() != 32 || !is_lower_hex(text)))
      return "the response is not 32 lower-case hexadecimal digits";
    if (name == "cnonce" && text.empty()) return "the cnonce is empty";
  }
  if (at != value.size()) {
    return value[at] == ' ' || value[at] == '\t'
               ? "blanks at the end of the Authorization line"
               : "the parameters are not " + order_text + ", in that order";
  }
  return std::nullopt;
}

}  // namespace sim
