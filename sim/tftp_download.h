// The device's TFTP client: fetches one file, acknowledging block after block, with the
// acknowledgement faults that tests ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_config.h"

namespace sim {

struct TftpDownloadRequest {
  std::uint32_t local_address = 0;   // every packet leaves from this address
  std::uint32_t server_address = 0;  // where the read request goes: the server, or the group
  std::uint16_t server_port = 0;
  std::string file_name;
  std::uint32_t group = 0;  // non-zero: DATA addressed to this group is received too
};

struct TftpDownloadResult {
  bool ok = false;
  std::string failure;              // why it failed, for the log
  std::vector<std::uint8_t> bytes;  // what arrived, also after a failure
  std::optional<std::uint64_t> announced_size;
};

struct TftpDownloadHooks {
  std::function<void(const std::string&)> log;  // one line per transfer step
  std::function<void()> block_received;         // a new DATA block was taken
  std::function<void()> ack_sent;               // an acknowledgement left (from any port)
};

// Runs the whole transfer on the calling thread; returns early when stop_fd turns readable.
TftpDownloadResult run_tftp_download(const TftpDownloadRequest& request, const TftpConfig& config,
                                     int stop_fd, const TftpDownloadHooks& hooks);

}  // namespace sim
