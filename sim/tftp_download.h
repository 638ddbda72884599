// The device's TFTP client: fetches one file, acknowledging block after block, with the
// acknowledgement faults that tests ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_config.h"
#include "sim/wire_record.h"

namespace sim {

struct TftpDownloadRequest {
  std::uint32_t local_address = 0;   // every packet leaves from this address
  std::uint32_t server_address = 0;  // where the read request goes: the server, or the group
  std::uint16_t server_port = 0;
  std::string file_name;
  std::uint32_t group = 0;           // non-zero: a recovery; DATA must come addressed to this group
  std::uint32_t answer_address = 0;  // the server's answers must come from here and server_port
  Leniency lenient;
};

struct TftpDownloadResult {
  bool ok = false;
  bool complete = false;            // every block arrived (ok may still be false: not flashed)
  bool violation = false;           // abandoned because the server broke a strict rule
  std::string failure;              // why it failed, for the log
  std::vector<std::uint8_t> bytes;  // what arrived, also after a failure
  std::optional<std::uint64_t> announced_size;
};

struct TftpDownloadHooks {
  std::function<void(const std::string&)> log;  // one line per transfer step
  std::function<void()> block_received;         // a new DATA block was taken
  std::function<void()> ack_sent;               // an acknowledgement left (from any port)
  std::function<void(WireEntry)> record;        // what crossed the wire, in order
};

// Runs the whole transfer on the calling thread; returns early when stop_fd turns readable.
TftpDownloadResult run_tftp_download(const TftpDownloadRequest& request, const TftpConfig& config,
                                     int stop_fd, const TftpDownloadHooks& hooks);

}  // namespace sim
