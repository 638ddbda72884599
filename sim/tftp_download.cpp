#include "sim/tftp_download.h"

#include <chrono>

#include "sim/tftp_packets.h"
#include "sim/udp_socket.h"

namespace sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

const char* fault_name(AckFault fault) {
  switch (fault) {
    case AckFault::lose:
      return "lose";
    case AckFault::duplicate:
      return "duplicate";
    case AckFault::stale:
      return "stale";
    case AckFault::foreign_port:
      return "foreign-port";
    case AckFault::error:
      return "error";
    case AckFault::stop:
      return "stop";
  }
  return "?";
}

std::optional<std::uint64_t> parse_decimal(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

class Download {
 public:
  Download(const TftpDownloadRequest& request, const TftpConfig& config, int stop_fd,
           const TftpDownloadHooks& hooks)
      : request_(request), config_(config), stop_fd_(stop_fd), hooks_(hooks) {}

  TftpDownloadResult run();

 private:
  void log(const std::string& line) const {
    if (hooks_.log) hooks_.log("tftp: " + line);
  }
  TftpDownloadResult fail(const std::string& why) {
    log("transfer failed: " + why);
    result_.ok = false;
    result_.failure = why;
    return std::move(result_);
  }
  bool open_sockets(std::string* error);
  void send(const std::vector<std::uint8_t>& packet) {
    send_datagram(socket_.get(), packet, peer_address_, peer_port_);
  }
  void send_ack(std::uint16_t block, int fd) {
    send_datagram(fd, make_ack(block), peer_address_, peer_port_);
    if (hooks_.ack_sent) hooks_.ack_sent();
  }
  // Acknowledges a block the first time it arrives, playing the fault set for it. Returns false
  // when the fault ends the transfer.
  bool acknowledge_new(std::uint32_t step);
  void handle_datagram(int fd, const std::uint8_t* bytes, const Datagram& datagram);

  const TftpDownloadRequest& request_;
  const TftpConfig& config_;
  int stop_fd_;
  const TftpDownloadHooks& hooks_;

  UniqueFd socket_;        // bound to the device address: sends everything, receives unicast
  UniqueFd group_socket_;  // any-bound on the same port, joined: receives DATA sent to the group
  UniqueFd foreign_socket_;

  std::uint32_t peer_address_ = 0;  // where our packets go: the server, or the group
  std::uint16_t peer_port_ = 0;
  bool locked_ = false;  // the server's address and port are known
  std::uint32_t server_address_ = 0;
  std::uint16_t server_port_ = 0;

  std::vector<std::uint8_t> last_packet_;  // sent again after a silence
  bool silent_ = false;                    // a "stop" fault: nothing more is sent
  bool option_acknowledged_ = false;
  std::uint32_t blocks_ = 0;  // DATA blocks taken
  bool last_block_taken_ = false;
  bool done_ = false;
  bool abandoned_ = false;
  std::string abandon_reason_;
  TftpDownloadResult result_;
};

bool Download::open_sockets(std::string* error) {
  socket_ = open_udp_socket(request_.local_address, 0, request_.group != 0, error);
  if (!socket_.valid()) return false;
  if (request_.group != 0) {
    const std::uint16_t port = local_port(socket_.get());
    group_socket_ = open_udp_socket(0, port, true, error);
    if (!group_socket_.valid() || !enable_destination_info(group_socket_.get(), error) ||
        !join_multicast_group(group_socket_.get(), request_.group, request_.local_address, error) ||
        !set_multicast_interface(socket_.get(), request_.local_address, error)) {
      return false;
    }
  }
  return true;
}

bool Download::acknowledge_new(std::uint32_t step) {
  const auto block = static_cast<std::uint16_t>(step);
  last_packet_ = make_ack(block);
  const auto fault = config_.ack_faults.find(step);
  if (silent_) return true;
  if (fault == config_.ack_faults.end()) {
    send_ack(block, socket_.get());
    return true;
  }
  log("fault " + std::string(fault_name(fault->second)) + " on the acknowledgement of block " +
      std::to_string(step));
  switch (fault->second) {
    case AckFault::lose:
      break;
    case AckFault::duplicate:
      send_ack(block, socket_.get());
      send_ack(block, socket_.get());
      break;
    case AckFault::stale:
      send_ack(static_cast<std::uint16_t>(block - 1), socket_.get());
      send_ack(block, socket_.get());
      break;
    case AckFault::foreign_port: {
      std::string error;
      foreign_socket_ = open_udp_socket(request_.local_address, 0, false, &error);
      if (!foreign_socket_.valid()) {
        log("cannot open a second port: " + error);
        break;
      }
      send_ack(block, foreign_socket_.get());
      break;
    }
    case AckFault::error:
      send(make_error(0, "simulated failure"));
      abandoned_ = true;
      abandon_reason_ =
          "sent ERROR instead of the acknowledgement of block " + std::to_string(step);
      return false;
    case AckFault::stop:
      silent_ = true;
      break;
  }
  return true;
}

void Download::handle_datagram(int fd, const std::uint8_t* bytes, const Datagram& datagram) {
  if (fd == group_socket_.get() && datagram.destination_address != request_.group)
    return;  // not ours
  if (datagram.truncated) {
    log("ignored an oversized datagram from " +
        format_endpoint(datagram.source_address, datagram.source_port));
    return;
  }
  const std::string source = format_endpoint(datagram.source_address, datagram.source_port);
  if (!locked_) {
    // The server answers from the port it chooses; a unicast server from the address we asked.
    if (request_.group == 0 && datagram.source_address != request_.server_address) return;
    locked_ = true;
    server_address_ = datagram.source_address;
    server_port_ = datagram.source_port;
    // From here on everything goes to the server's own endpoint, also when the read request
    // went to the group.
    peer_address_ = server_address_;
    peer_port_ = server_port_;
  } else if (datagram.source_address != server_address_ || datagram.source_port != server_port_) {
    log("answered a packet from the unknown endpoint " + source + " with ERROR 5");
    send_datagram(socket_.get(), make_error(5, "Unknown transfer ID"), datagram.source_address,
                  datagram.source_port);
    return;
  }

  const auto packet = parse_server_packet(bytes, datagram.size);
  if (!packet) {
    log("ignored a malformed packet of " + std::to_string(datagram.size) + " bytes from " + source);
    return;
  }
  switch (packet->opcode) {
    case TftpOpcode::error:
      abandoned_ = true;
      abandon_reason_ = "server sent ERROR " + std::to_string(packet->error_code) + " \"" +
                        packet->error_message + "\"";
      return;
    case TftpOpcode::oack: {
      if (blocks_ > 0) return;
      if (option_acknowledged_) {
        log("OACK again, acknowledging block 0 again");
        if (!silent_) send_ack(0, socket_.get());
        return;
      }
      std::string listed;
      for (const auto& option : packet->options) {
        listed += " " + option.first + "=" + option.second;
        if (option.first == "tsize") {
          result_.announced_size = parse_decimal(option.second);
          if (!result_.announced_size || *result_.announced_size > config_.max_image_size) {
            send(make_error(8, "bad tsize"));
            abandoned_ = true;
            abandon_reason_ = "unacceptable tsize \"" + option.second + "\"";
            return;
          }
        } else if (option.first != "timeout") {
          send(make_error(8, "option not requested"));
          abandoned_ = true;
          abandon_reason_ = "option \"" + option.first + "\" was not requested";
          return;
        }
      }
      option_acknowledged_ = true;
      log("OACK from " + source + ":" + listed + ", ACK 0");
      acknowledge_new(0);
      return;
    }
    case TftpOpcode::data: {
      const auto expected = static_cast<std::uint16_t>(blocks_ + 1);
      if (blocks_ > 0 && packet->block == static_cast<std::uint16_t>(blocks_)) {
        // A retransmission: our acknowledgement was lost, withheld or sent from elsewhere.
        log("DATA " + std::to_string(blocks_) + " again, acknowledging it again");
        if (!silent_) send_ack(packet->block, socket_.get());
        if (last_block_taken_ && !silent_) done_ = true;
        return;
      }
      if (packet->block != expected || last_block_taken_) return;
      if (result_.bytes.size() + packet->data_size > config_.max_image_size ||
          (result_.announced_size &&
           result_.bytes.size() + packet->data_size > *result_.announced_size)) {
        send(make_error(3, "more data than announced"));
        abandoned_ = true;
        abandon_reason_ = "block " + std::to_string(blocks_ + 1) + " goes past the announced size";
        return;
      }
      result_.bytes.insert(result_.bytes.end(), bytes + packet->data_offset,
                           bytes + packet->data_offset + packet->data_size);
      ++blocks_;
      if (hooks_.block_received) hooks_.block_received();
      last_block_taken_ = packet->data_size < kTftpBlockSize;
      log("DATA " + std::to_string(blocks_) + " (" + std::to_string(packet->data_size) +
          " bytes, " + std::to_string(result_.bytes.size()) + " in all), ACK " +
          std::to_string(blocks_));
      if (!acknowledge_new(blocks_)) return;
      if (last_block_taken_) {
        const auto fault = config_.ack_faults.find(blocks_);
        const bool withheld =
            fault != config_.ack_faults.end() &&
            (fault->second == AckFault::lose || fault->second == AckFault::foreign_port);
        if (!withheld && !silent_) done_ = true;
      }
      return;
    }
    default:
      return;
  }
}

TftpDownloadResult Download::run() {
  std::string error;
  if (!open_sockets(&error)) return fail(error);
  peer_address_ = request_.server_address;
  peer_port_ = request_.server_port;

  const std::vector<std::pair<std::string, std::string>> options = {
      {"tsize", "0"}, {"timeout", std::to_string(config_.option_timeout_s)}};
  last_packet_ = make_read_request(request_.file_name, options);
  send(last_packet_);
  log("RRQ \"" + request_.file_name + "\" (octet, tsize 0, timeout " +
      std::to_string(config_.option_timeout_s) + ") to " +
      format_endpoint(request_.server_address, request_.server_port) + " from " +
      format_endpoint(request_.local_address, local_port(socket_.get())));

  std::uint8_t buffer[1024];
  std::uint32_t silences = 0;
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(config_.timeout_ms);
  while (!done_) {
    if (abandoned_) return fail(abandon_reason_);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    std::size_t which = 0;
    const WaitResult waited = wait_readable({socket_.get(), group_socket_.get()}, stop_fd_,
                                            left > 0 ? static_cast<int>(left) : 0, &which);
    if (waited == WaitResult::stopped) return fail("device stopped");
    if (waited == WaitResult::timeout) {
      if (++silences > config_.retries) {
        return fail(silent_ ? "stopped acknowledging, the server gave up"
                            : "no answer from the server");
      }
      if (!silent_) {
        log("silence, sending the last packet again (" + std::to_string(silences) + "/" +
            std::to_string(config_.retries) + ")");
        send(last_packet_);
      }
      deadline = SteadyClock::now() + std::chrono::milliseconds(config_.timeout_ms);
      continue;
    }
    const int fd = which == 0 ? socket_.get() : group_socket_.get();
    const std::uint32_t blocks_before = blocks_;
    const bool acknowledged_before = option_acknowledged_;
    while (const auto datagram = receive_datagram(fd, buffer, sizeof buffer)) {
      handle_datagram(fd, buffer, *datagram);
      if (done_ || abandoned_) break;
    }
    if (blocks_ != blocks_before || option_acknowledged_ != acknowledged_before) {
      silences = 0;
      deadline = SteadyClock::now() + std::chrono::milliseconds(config_.timeout_ms);
    }
  }
  if (result_.announced_size && *result_.announced_size != result_.bytes.size()) {
    return fail("received " + std::to_string(result_.bytes.size()) +
                " bytes, the server announced " + std::to_string(*result_.announced_size));
  }
  log("transfer complete: " + std::to_string(result_.bytes.size()) + " bytes in " +
      std::to_string(blocks_) + " blocks");
  result_.ok = true;
  return std::move(result_);
}

}  // namespace

TftpDownloadResult run_tftp_download(const TftpDownloadRequest& request, const TftpConfig& config,
                                     int stop_fd, const TftpDownloadHooks& hooks) {
  Download download(request, config, stop_fd, hooks);
  return download.run();
}

}  // namespace sim
