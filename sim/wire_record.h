// What crossed the wire between a simulated device and its peers, in the order the device saw
// it. Tests read it through Device::record() to assert the exact bytes a client sent; the
// device also logs every entry as one readable line (describe()).
//
// Entries and the fields each one fills (every entry has kind, from and to):
//   http_request         one connection's raw request head (bytes; what arrived when the head
//                        was incomplete or too long), the status answered (status, 0 when none
//                        went out), the answer's summary (detail), the rule broken when the
//                        head was refused (rule)
//   http_closed          the device closed that connection (from: the client)
//   tftp_read_request    a read request the device sent (bytes, options in wire order)
//   tftp_sent            another packet the device sent: a write request, DATA, ACK or ERROR
//                        before its read request, or the ERROR that abandons a transfer (bytes)
//   tftp_server          the endpoint the device took as the server's (from)
//   tftp_option_ack      the server's option acknowledgement (bytes, options in wire order)
//   tftp_data            a new DATA block (block, length of its data; to shows whether it came
//                        to the group or to the device)
//   tftp_retransmission  an option acknowledgement (block 0) or DATA seen again (block, length)
//   tftp_ack             an acknowledgement the device sent (block; from shows its port)
//   tftp_error           an ERROR packet from the server (bytes)
//   tftp_end             the transfer ended: the bytes received (bytes), the outcome (detail:
//                        "stored", "not flashed: ..." or "failed: ...")
//   recovery_request     a datagram on the recovery port (bytes; to: the group or the device)
//   recovery_reply       the reply the device sent (bytes)
//   violation            a strict rule broken (rule); the offending packet's endpoints
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class WireKind {
  http_request,
  http_closed,
  tftp_read_request,
  tftp_sent,
  tftp_server,
  tftp_option_ack,
  tftp_data,
  tftp_retransmission,
  tftp_ack,
  tftp_error,
  tftp_end,
  recovery_request,
  recovery_reply,
  violation,
};

const char* to_string(WireKind kind);

struct WireEndpoint {
  std::uint32_t address = 0;  // host order, first dotted part in the top byte
  std::uint16_t port = 0;
  bool operator==(const WireEndpoint& other) const {
    return address == other.address && port == other.port;
  }
  bool operator!=(const WireEndpoint& other) const { return !(*this == other); }
  std::string text() const;  // "a.b.c.d:port"
};

using WireOptions = std::vector<std::pair<std::string, std::string>>;

struct WireEntry {
  WireKind kind = WireKind::violation;
  WireEndpoint from;
  WireEndpoint to;
  std::string bytes;        // raw bytes (std::string holds any byte, NULs included)
  int status = 0;           // http_request
  std::uint16_t block = 0;  // tftp_data, tftp_retransmission, tftp_ack
  std::size_t length = 0;   // tftp_data, tftp_retransmission: bytes of data
  WireOptions options;      // tftp_read_request, tftp_option_ack
  std::string detail;
  std::string rule;  // violation, refused http_request

  std::vector<std::uint8_t> data() const { return {bytes.begin(), bytes.end()}; }
};

// One readable line for the log.
std::string describe(const WireEntry& entry);

// The entries of one kind, in order.
std::vector<WireEntry> entries_of(const std::vector<WireEntry>& record, WireKind kind);

// Printable text of raw bytes: printable ASCII as is, CR and LF as \r and \n, others as \xNN.
std::string printable(const std::string& bytes, std::size_t limit = 200);

}  // namespace sim
