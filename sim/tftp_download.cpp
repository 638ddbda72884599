#include "sim/tftp_download.h"

#include <cctype>
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

bool is_canonical_decimal(const std::string& text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string swap_case(std::string text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
  }
  return text;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

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
  void record(WireEntry entry) const {
    if (hooks_.record) hooks_.record(std::move(entry));
  }
  WireEndpoint own(int fd) const { return {request_.local_address, local_port(fd)}; }
  WireEndpoint peer() const { return {peer_address_, peer_port_}; }
  TftpDownloadResult fail(const std::string& why) {
    log("transfer failed: " + why);
    result_.ok = false;
    result_.failure = why;
    return std::move(result_);
  }
  // A strict rule broken: recorded, and the transfer is abandoned without a word to the server.
  void violate(const std::string& rule, const WireEndpoint& from, const WireEndpoint& to) {
    WireEntry entry;
    entry.kind = WireKind::violation;
    entry.from = from;
    entry.to = to;
    entry.rule = "tftp: " + rule;
    record(std::move(entry));
    abandoned_ = true;
    result_.violation = true;
    abandon_reason_ = rule;
  }
  bool open_sockets(std::string* error);
  void send(const std::vector<std::uint8_t>& packet, WireKind kind = WireKind::tftp_sent,
            const WireOptions& options = {}) {
    send_datagram(socket_.get(), packet, peer_address_, peer_port_);
    WireEntry entry;
    entry.kind = kind;
    entry.from = own(socket_.get());
    entry.to = peer();
    entry.bytes = as_text(packet);
    entry.options = options;
    record(std::move(entry));
  }
  void send_ack(std::uint32_t step, int fd) {
    const auto block = static_cast<std::uint16_t>(step);
    send_datagram(fd, make_ack(block), peer_address_, peer_port_);
    // Only an acknowledgement from our own port, of a block we hold, lets the server go on.
    if (fd == socket_.get() && step <= blocks_ && static_cast<std::int64_t>(step) > last_acked_)
      last_acked_ = step;
    WireEntry entry;
    entry.kind = WireKind::tftp_ack;
    entry.from = own(fd);
    entry.to = peer();
    entry.block = block;
    entry.bytes = as_text(make_ack(block));
    record(std::move(entry));
    if (hooks_.ack_sent) hooks_.ack_sent();
  }
  // After a silence: the read request or the last acknowledgement again.
  void resend_last() {
    if (last_packet_.size() == 4 && last_packet_[1] == static_cast<std::uint8_t>(TftpOpcode::ack)) {
      send_ack(last_ack_step_, socket_.get());
    } else {
      send(last_packet_, WireKind::tftp_read_request, read_options_);
    }
  }
  // Acknowledges a block the first time it arrives, playing the fault set for it. Returns false
  // when the fault ends the transfer.
  bool acknowledge_new(std::uint32_t step);
  bool accept_options(const TftpServerPacket& packet, const WireEndpoint& from,
                      const WireEndpoint& to);
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

  WireOptions read_options_;
  std::vector<std::uint8_t> last_packet_;  // sent again after a silence
  std::uint32_t last_ack_step_ = 0;
  std::int64_t last_acked_ = -1;  // the highest block acknowledged from our own port
  bool silent_ = false;           // a "stop" fault: nothing more is sent
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
  if (!socket_.valid() || !enable_destination_info(socket_.get(), error)) return false;
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
  last_ack_step_ = step;
  const auto fault = config_.ack_faults.find(step);
  if (silent_) return true;
  if (fault == config_.ack_faults.end()) {
    send_ack(step, socket_.get());
    return true;
  }
  log("fault " + std::string(fault_name(fault->second)) + " on the acknowledgement of block " +
      std::to_string(step));
  switch (fault->second) {
    case AckFault::lose:
      break;
    case AckFault::duplicate:
      send_ack(step, socket_.get());
      send_ack(step, socket_.get());
      break;
    case AckFault::stale:
      send_ack(step - 1, socket_.get());
      send_ack(step, socket_.get());
      break;
    case AckFault::foreign_port: {
      std::string error;
      foreign_socket_ = open_udp_socket(request_.local_address, 0, false, &error);
      if (!foreign_socket_.valid()) {
        log("cannot open a second port: " + error);
        break;
      }
      send_ack(step, foreign_socket_.get());
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

// The options of the server's option acknowledgement; false when the transfer ends over them.
bool Download::accept_options(const TftpServerPacket& packet, const WireEndpoint& from,
                              const WireEndpoint& to) {
  std::string listed;
  for (const auto& option : packet.options)
    listed += (listed.empty() ? "" : " ") + option.first + "=" + option.second;
  if (!request_.lenient.tftp_option_ack) {
    const auto& options = packet.options;
    const bool exact = options.size() == 2 && options[0].first == "tsize" &&
                       is_canonical_decimal(options[0].second) && options[1].first == "timeout" &&
                       options[1].second == "5";
    if (!exact) {
      violate("the option acknowledgement is not tsize <size> then timeout 5 (it has \"" + listed +
                  "\")",
              from, to);
      return false;
    }
  }
  for (const auto& option : packet.options) {
    const std::string name = lower(option.first);
    if (name == "tsize") {
      result_.announced_size = parse_decimal(option.second);
      if (!result_.announced_size || *result_.announced_size > config_.max_image_size) {
        send(make_error(8, "bad tsize"));
        abandoned_ = true;
        abandon_reason_ = "unacceptable tsize \"" + option.second + "\"";
        return false;
      }
    } else if (name != "timeout") {
      send(make_error(8, "option not requested"));
      abandoned_ = true;
      abandon_reason_ = "option \"" + option.first + "\" was not requested";
      return false;
    }
  }
  return true;
}

void Download::handle_datagram(int fd, const std::uint8_t* bytes, const Datagram& datagram) {
  const bool to_group = fd == group_socket_.get();
  if (to_group && datagram.destination_address != request_.group) return;  // not ours
  const WireEndpoint from{datagram.source_address, datagram.source_port};
  const WireEndpoint to{to_group ? request_.group
                                 : (datagram.destination_address != 0 ? datagram.destination_address
                                                                      : request_.local_address),
                        local_port(socket_.get())};
  if (datagram.truncated) {
    log("ignored an oversized datagram from " + from.text());
    return;
  }
  if (datagram.source_address == 0 && !request_.lenient.zero_source) {
    violate("a datagram from 0.0.0.0", from, to);
    return;
  }
  if (!locked_) {
    const bool right_address =
        request_.answer_address == 0 || datagram.source_address == request_.answer_address;
    const bool right_port = datagram.source_port == request_.server_port;
    if (!right_address || !right_port) {
      if (!request_.lenient.tftp_server_port) {
        violate("the first answer came from " + from.text() + ", not from " +
                    format_endpoint(request_.answer_address, request_.server_port),
                from, to);
        return;
      }
      // A unicast server answers from the address we asked, on the port it chooses.
      if (request_.group == 0 && datagram.source_address != request_.server_address) return;
    }
    locked_ = true;
    server_address_ = datagram.source_address;
    server_port_ = datagram.source_port;
    // From here on everything goes to the server's own endpoint, also when the read request
    // went to the group.
    peer_address_ = server_address_;
    peer_port_ = server_port_;
    WireEntry entry;
    entry.kind = WireKind::tftp_server;
    entry.from = from;
    entry.to = to;
    record(std::move(entry));
  } else if (datagram.source_address != server_address_ || datagram.source_port != server_port_) {
    log("answered a packet from the unknown endpoint " + from.text() + " with ERROR 5");
    const auto error = make_error(5, "Unknown transfer ID");
    send_datagram(socket_.get(), error, datagram.source_address, datagram.source_port);
    WireEntry entry;
    entry.kind = WireKind::tftp_sent;
    entry.from = own(socket_.get());
    entry.to = from;
    entry.bytes = as_text(error);
    record(std::move(entry));
    return;
  }

  const auto packet = parse_server_packet(bytes, datagram.size);
  if (!packet) {
    log("ignored a malformed packet of " + std::to_string(datagram.size) + " bytes from " +
        from.text());
    return;
  }
  if (request_.group != 0 && !to_group && !request_.lenient.tftp_group_data &&
      (packet->opcode == TftpOpcode::data || packet->opcode == TftpOpcode::oack)) {
    violate(
        std::string(packet->opcode == TftpOpcode::data ? "DATA" : "the option acknowledgement") +
            " came to " + to.text() + ", not to the group, during a recovery",
        from, to);
    return;
  }
  switch (packet->opcode) {
    case TftpOpcode::error: {
      WireEntry entry;
      entry.kind = WireKind::tftp_error;
      entry.from = from;
      entry.to = to;
      entry.bytes.assign(reinterpret_cast<const char*>(bytes), datagram.size);
      entry.detail = packet->error_message;
      record(std::move(entry));
      abandoned_ = true;
      abandon_reason_ = "server sent ERROR " + std::to_string(packet->error_code) + " \"" +
                        packet->error_message + "\"";
      return;
    }
    case TftpOpcode::oack: {
      WireEntry entry;
      entry.from = from;
      entry.to = to;
      entry.bytes.assign(reinterpret_cast<const char*>(bytes), datagram.size);
      entry.options = packet->options;
      if (blocks_ > 0 || option_acknowledged_) {
        entry.kind = WireKind::tftp_retransmission;
        entry.detail = "OACK";
        record(std::move(entry));
        if (blocks_ == 0 && !silent_) send_ack(0, socket_.get());
        return;
      }
      entry.kind = WireKind::tftp_option_ack;
      record(std::move(entry));
      if (!accept_options(*packet, from, to)) return;
      option_acknowledged_ = true;
      acknowledge_new(0);
      return;
    }
    case TftpOpcode::data: {
      WireEntry entry;
      entry.from = from;
      entry.to = to;
      entry.block = packet->block;
      entry.length = packet->data_size;
      const auto expected = static_cast<std::uint16_t>(blocks_ + 1);
      if (blocks_ > 0 && packet->block == static_cast<std::uint16_t>(blocks_)) {
        // A retransmission: our acknowledgement was lost, withheld or sent from elsewhere.
        entry.kind = WireKind::tftp_retransmission;
        entry.detail = "DATA";
        record(std::move(entry));
        if (!silent_) send_ack(blocks_, socket_.get());
        if (last_block_taken_ && !silent_) done_ = true;
        return;
      }
      if (last_block_taken_) return;
      if (packet->block != expected) {
        const bool ahead = static_cast<std::uint16_t>(packet->block - expected) < 0x8000;
        if (ahead && !request_.lenient.tftp_stop_and_wait) {
          violate("DATA " + std::to_string(packet->block) + " while block " +
                      std::to_string(expected) + " was due",
                  from, to);
          return;
        }
        entry.kind = WireKind::tftp_retransmission;
        entry.detail = "DATA";
        record(std::move(entry));
        return;
      }
      if (blocks_ == 0 && !option_acknowledged_) {
        if (!request_.lenient.tftp_option_ack) {
          violate("DATA 1 came before any option acknowledgement", from, to);
          return;
        }
        last_acked_ = 0;  // without options, DATA 1 answers the read request itself
      }
      if (!request_.lenient.tftp_stop_and_wait &&
          static_cast<std::int64_t>(blocks_) + 1 > last_acked_ + 1) {
        violate("DATA " + std::to_string(blocks_ + 1) + " came before the device acknowledged " +
                    (blocks_ == 0 ? std::string("the option acknowledgement")
                                  : "block " + std::to_string(blocks_)),
                from, to);
        return;
      }
      entry.kind = WireKind::tftp_data;
      record(std::move(entry));
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

  const ReadRequestConfig& variant = config_.read_request;
  for (const std::uint16_t opcode : variant.opcodes_before) {
    std::vector<std::uint8_t> packet;
    switch (opcode) {
      case static_cast<std::uint16_t>(TftpOpcode::wrq):
        packet = make_read_request(request_.file_name, {}, "octet", TftpOpcode::wrq);
        break;
      case static_cast<std::uint16_t>(TftpOpcode::data):
        packet = {0, 3, 0, 1, 'x'};
        break;
      case static_cast<std::uint16_t>(TftpOpcode::ack):
        packet = make_ack(0);
        break;
      default:
        packet = make_error(0, "before the request");
        break;
    }
    send(packet);
  }
  if (variant.options) {
    read_options_ = {{"tsize", "0"}, {"timeout", std::to_string(config_.option_timeout_s)}};
  }
  if (!variant.wrong_name_first.empty()) {
    send(make_read_request(variant.wrong_name_first, read_options_, variant.mode),
         WireKind::tftp_read_request, read_options_);
  }
  const std::string name =
      variant.swap_name_case ? swap_case(request_.file_name) : request_.file_name;
  last_packet_ = make_read_request(name, read_options_, variant.mode);
  send(last_packet_, WireKind::tftp_read_request, read_options_);

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
        resend_last();
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
  result_.complete = true;
  return std::move(result_);
}

}  // namespace

TftpDownloadResult run_tftp_download(const TftpDownloadRequest& request, const TftpConfig& config,
                                     int stop_fd, const TftpDownloadHooks& hooks) {
  Download download(request, config, stop_fd, hooks);
  return download.run();
}

}  // namespace sim
