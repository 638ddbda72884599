#include "sim/http_request.h"

#include <cctype>

namespace sim {
namespace {

bool equal_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool is_token_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7f) return false;
  for (char separator : std::string("()<>@,;:\\\"/[]?={}")) {
    if (c == separator) return false;
  }
  return true;
}

bool is_token(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!is_token_char(c)) return false;
  }
  return true;
}

bool is_version(const std::string& text) {
  return text.size() == 8 && text.compare(0, 5, "HTTP/") == 0 &&
         std::isdigit(static_cast<unsigned char>(text[5])) && text[6] == '.' &&
         std::isdigit(static_cast<unsigned char>(text[7]));
}

std::string trim_blanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

const std::string* HttpRequest::header(const std::string& name) const {
  for (const auto& entry : headers) {
    if (equal_ignoring_case(entry.first, name)) return &entry.second;
  }
  return nullptr;
}

std::optional<std::size_t> find_request_head_end(const std::string& received) {
  const std::size_t crlf = received.find("\r\n\r\n");
  const std::size_t lf = received.find("\n\n");
  if (crlf == std::string::npos && lf == std::string::npos) return std::nullopt;
  if (lf == std::string::npos || (crlf != std::string::npos && crlf + 2 <= lf)) return crlf + 4;
  return lf + 2;
}

std::optional<HttpRequest> parse_http_request(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < head.size()) {
    const std::size_t newline = head.find('\n', at);
    if (newline == std::string::npos) return std::nullopt;  // the head must end with a line break
    std::string line = head.substr(at, newline - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = newline + 1;
    if (line.empty()) break;
    lines.push_back(line);
  }
  if (lines.empty() || at != head.size()) return std::nullopt;

  HttpRequest request;
  const std::string& request_line = lines.front();
  const std::size_t first_blank = request_line.find(' ');
  const std::size_t second_blank = first_blank == std::string::npos
                                       ? std::string::npos
                                       : request_line.find(' ', first_blank + 1);
  if (second_blank == std::string::npos) return std::nullopt;
  request.method = request_line.substr(0, first_blank);
  request.target = request_line.substr(first_blank + 1, second_blank - first_blank - 1);
  request.version = request_line.substr(second_blank + 1);
  if (!is_token(request.method) || !is_version(request.version) || request.target.empty())
    return std::nullopt;
  for (char c : request.target) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) return std::nullopt;
  }

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string name = line.substr(0, colon);
    if (!is_token(name)) return std::nullopt;  // also refuses folded continuation lines
    std::string value = trim_blanks(line.substr(colon + 1));
    for (char c : value) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\t') || u == 0x7f) return std::nullopt;
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  }
  return request;
}

}  // namespace sim
