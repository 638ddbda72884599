// The head of an HTTP request as the device's web server reads it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct HttpRequest {
  std::string method;
  std::string target;
  std::string version;  // "HTTP/1.1", "HTTP/1.0"
  std::vector<std::pair<std::string, std::string>> headers;

  // The value of the first header with this name (letter case ignored), or nullptr.
  const std::string* header(const std::string& name) const;
};

// Where the request head ends in the bytes received so far: the offset just past the empty line
// ("\r\n\r\n", or "\n\n" from lax clients), or nothing while the head is incomplete.
std::optional<std::size_t> find_request_head_end(const std::string& received);

// Parses a complete request head; nothing for a malformed one.
std::optional<HttpRequest> parse_http_request(const std::string& head);

}  // namespace sim
