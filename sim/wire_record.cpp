#include "sim/wire_record.h"

#include <cstdio>

#include "sim/udp_socket.h"

namespace sim {
namespace {

std::string route(const WireEntry& entry) { return entry.from.text() + " -> " + entry.to.text(); }

std::string listed(const WireOptions& options) {
  std::string text;
  for (const auto& option : options) text += " " + option.first + "=" + option.second;
  return text;
}

std::string first_line(const std::string& bytes) {
  const std::size_t end = bytes.find_first_of("\r\n");
  std::string line = bytes.substr(0, end == std::string::npos ? 120 : end);
  if (line.size() > 120) line = line.substr(0, 120) + "...";
  return printable(line);
}

const char* opcode_name(const std::string& bytes) {
  if (bytes.size() < 2 || bytes[0] != 0) return "packet";
  switch (bytes[1]) {
    case 1:
      return "RRQ";
    case 2:
      return "WRQ";
    case 3:
      return "DATA";
    case 4:
      return "ACK";
    case 5:
      return "ERROR";
    case 6:
      return "OACK";
    default:
      return "packet";
  }
}

}  // namespace

const char* to_string(WireKind kind) {
  switch (kind) {
    case WireKind::http_request:
      return "http_request";
    case WireKind::http_closed:
      return "http_closed";
    case WireKind::tftp_read_request:
      return "tftp_read_request";
    case WireKind::tftp_sent:
      return "tftp_sent";
    case WireKind::tftp_server:
      return "tftp_server";
    case WireKind::tftp_option_ack:
      return "tftp_option_ack";
    case WireKind::tftp_data:
      return "tftp_data";
    case WireKind::tftp_retransmission:
      return "tftp_retransmission";
    case WireKind::tftp_ack:
      return "tftp_ack";
    case WireKind::tftp_error:
      return "tftp_error";
    case WireKind::tftp_end:
      return "tftp_end";
    case WireKind::recovery_request:
      return "recovery_request";
    case WireKind::recovery_reply:
      return "recovery_reply";
    case WireKind::violation:
      return "violation";
  }
  return "?";
}

std::string WireEndpoint::text() const { return format_endpoint(address, port); }

std::string printable(const std::string& bytes, std::size_t limit) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (text.size() >= limit) return text + "...";
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    }
  }
  return text;
}

std::string describe(const WireEntry& entry) {
  switch (entry.kind) {
    case WireKind::http_request:
      // The same shape as ever: "web CLIENT "REQUEST LINE" -> STATUS (why)".
      return "web " + entry.from.text() + " \"" + first_line(entry.bytes) + "\" -> " + entry.detail;
    case WireKind::http_closed:
      return "web " + entry.from.text() + " connection closed";
    case WireKind::tftp_read_request: {
      std::string name;
      std::string mode;
      std::size_t at = 2;
      for (; at < entry.bytes.size() && entry.bytes[at] != 0; ++at) name += entry.bytes[at];
      for (++at; at < entry.bytes.size() && entry.bytes[at] != 0; ++at) mode += entry.bytes[at];
      return "tftp: RRQ \"" + printable(name) + "\" mode " + printable(mode) +
             (entry.options.empty() ? " no options" : listed(entry.options)) + ", " + route(entry);
    }
    case WireKind::tftp_sent:
      return "tftp: sent " + std::string(opcode_name(entry.bytes)) + " of " +
             std::to_string(entry.bytes.size()) + " bytes, " + route(entry);
    case WireKind::tftp_server:
      return "tftp: the server is " + entry.from.text();
    case WireKind::tftp_option_ack:
      return "tftp: OACK" + listed(entry.options) + ", " + route(entry);
    case WireKind::tftp_data:
      return "tftp: DATA " + std::to_string(entry.block) + " (" + std::to_string(entry.length) +
             " bytes), " + route(entry);
    case WireKind::tftp_retransmission:
      return entry.detail == "OACK" ? "tftp: OACK again, " + route(entry)
                                    : "tftp: DATA " + std::to_string(entry.block) + " again (" +
                                          std::to_string(entry.length) + " bytes), " + route(entry);
    case WireKind::tftp_ack:
      return "tftp: ACK " + std::to_string(entry.block) + ", " + route(entry);
    case WireKind::tftp_error:
      return "tftp: ERROR from the server \"" + printable(entry.detail) + "\", " + route(entry);
    case WireKind::tftp_end:
      return "tftp: transfer ended with " + std::to_string(entry.bytes.size()) +
             " bytes: " + entry.detail;
    case WireKind::recovery_request:
      return "recovery: " + std::to_string(entry.bytes.size()) + "-byte datagram, " + route(entry);
    case WireKind::recovery_reply:
      return "recovery: sent a " + std::to_string(entry.bytes.size()) + "-byte reply, " +
             route(entry);
    case WireKind::violation:
      return "refused: " + entry.rule + " (" + route(entry) + ")";
  }
  return "?";
}

std::vector<WireEntry> entries_of(const std::vector<WireEntry>& record, WireKind kind) {
  std::vector<WireEntry> found;
  for (const WireEntry& entry : record) {
    if (entry.kind == kind) found.push_back(entry);
  }
  return found;
}

}  // namespace sim
