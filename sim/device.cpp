#include "sim/device.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "sim/http_request.h"
#include "sim/recovery_packets.h"
#include "sim/tftp_download.h"
#include "sim/web_responder.h"

namespace sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kImageHeaderSize = 128;
constexpr std::size_t kVersionOffset = 92;

// The version text of a received image, or nothing when the image is too short to hold a header.
std::optional<std::string> image_version(const std::vector<std::uint8_t>& image) {
  if (image.size() < kImageHeaderSize) return std::nullopt;
  std::string version;
  for (std::size_t at = kVersionOffset; at < kImageHeaderSize && image[at] != 0; ++at) {
    version += static_cast<char>(image[at]);
  }
  return version;
}

int remaining_ms(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(left);
}

// Waits for the socket to become readable or writable, a stop, or the deadline.
bool wait_socket(int fd, short events, int stop_fd, SteadyClock::time_point deadline) {
  pollfd polled[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  while (true) {
    const int ready = ::poll(polled, 2, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && polled[1].revents == 0 && polled[0].revents != 0;
  }
}

}  // namespace

const char* to_string(DeviceState state) {
  switch (state) {
    case DeviceState::serving:
      return "serving";
    case DeviceState::recovery:
      return "recovery";
    case DeviceState::transferring:
      return "transferring";
    case DeviceState::restarting:
      return "restarting";
    case DeviceState::gone:
      return "gone";
    case DeviceState::stopped:
      return "stopped";
  }
  return "?";
}

Device::Device(DeviceConfig config) : config_(std::move(config)) {
  status_.software_version = config_.identity.software_version;
}

Device::~Device() { stop(); }

void Device::log(const std::string& line) {
  if (!config_.log) return;
  std::lock_guard<std::mutex> lock(log_mutex_);
  config_.log(line);
}

void Device::update(const std::function<void(DeviceStatus&)>& change) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change(status_);
  }
  changed_.notify_all();
}

DeviceStatus Device::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::vector<std::uint8_t> Device::received_image() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::uint16_t Device::web_port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return web_port_;
}

bool Device::wait_until(const std::function<bool(const DeviceStatus&)>& predicate,
                        std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return predicate(status_); });
}

void Device::note(WireEntry entry) {
  const std::string line = describe(entry);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (record_.size() < config_.record_limit) {
      record_.push_back(std::move(entry));
    } else {
      ++status_.counters.record_dropped;
    }
  }
  changed_.notify_all();
  log(line);
}

std::vector<WireEntry> Device::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

std::vector<WireEntry> Device::record(WireKind kind) const { return entries_of(record(), kind); }

std::vector<std::string> Device::http_request_heads() const {
  std::vector<std::string> heads;
  for (const WireEntry& entry : record(WireKind::http_request)) heads.push_back(entry.bytes);
  return heads;
}

std::vector<WireEntry> Device::violations() const { return record(WireKind::violation); }

void Device::clear_record() {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.clear();
}

bool Device::wait_for_record(const std::function<bool(const std::vector<WireEntry>&)>& predicate,
                             std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return predicate(record_); });
}

bool Device::open_web_listener(std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  std::uint16_t port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    port = web_port_ != 0 ? web_port_ : config_.web_port;  // a restart comes back on the same port
  }
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address_);
  endpoint.sin_port = htons(port);
  if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0 ||
      ::listen(fd.get(), 16) != 0) {
    *error = "web server on " + format_endpoint(address_, port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t size = sizeof endpoint;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&endpoint), &size);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    web_port_ = ntohs(endpoint.sin_port);
  }
  web_listener_ = std::move(fd);
  log("web server listening on " + format_endpoint(address_, ntohs(endpoint.sin_port)));
  return true;
}

bool Device::open_recovery_sockets(std::string* error) {
  // Group datagrams reach only any-bound sockets, so one socket is any-bound and joined, and a
  // second one on the same port is bound to the device address: replies leave from there.
  UniqueFd own = open_udp_socket(address_, config_.recovery.port, true, error);
  if (!own.valid() || !set_multicast_interface(own.get(), address_, error)) return false;
  UniqueFd group = open_udp_socket(0, config_.recovery.port, true, error);
  if (!group.valid() || !enable_destination_info(group.get(), error) ||
      !join_multicast_group(group.get(), group_, address_, error)) {
    return false;
  }
  recovery_own_socket_ = std::move(own);
  recovery_group_socket_ = std::move(group);
  log("recovery loader listening on " + format_endpoint(group_, config_.recovery.port) + " and " +
      format_endpoint(address_, config_.recovery.port));
  return true;
}

bool Device::start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (started_) {
    *error = "already started";
    return false;
  }
  const auto address = parse_ipv4(config_.address);
  const auto group = parse_ipv4(config_.recovery.group);
  if (!address || !group) {
    *error = "bad address \"" + config_.address + "\" or group \"" + config_.recovery.group + "\"";
    return false;
  }
  address_ = *address;
  group_ = *group;
  if (config_.start_in_recovery ? !open_recovery_sockets(error) : !open_web_listener(error))
    return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    want_web_ = !config_.start_in_recovery;
    want_recovery_ = config_.start_in_recovery;
    status_.in_recovery = config_.start_in_recovery;
    status_.web_listening = !config_.start_in_recovery;
    status_.state = config_.start_in_recovery ? DeviceState::recovery : DeviceState::serving;
  }
  log(std::string("device ") + config_.address + " started in " +
      (config_.start_in_recovery ? "recovery mode" : "normal mode") + ", software " +
      config_.identity.software_version);
  web_thread_ = std::thread(&Device::web_loop, this);
  recovery_thread_ = std::thread(&Device::recovery_loop, this);
  return true;
}

void Device::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || stopping_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  stop_signal_.raise();
  if (web_thread_.joinable()) web_thread_.join();
  if (recovery_thread_.joinable()) recovery_thread_.join();
  {
    std::lock_guard<std::mutex> lock(transfer_thread_mutex_);
    if (transfer_thread_.joinable()) transfer_thread_.join();
  }
  web_listener_.reset();
  recovery_group_socket_.reset();
  recovery_own_socket_.reset();
  update([](DeviceStatus& status) {
    status.state = DeviceState::stopped;
    status.web_listening = false;
  });
  log("device " + config_.address + " stopped");
}

void Device::web_loop() {
  {
    std::lock_guard<std::mutex> lock(responder_mutex_);
    responder_ = std::make_unique<WebResponder>(config_);
  }
  bool retry_open = false;
  while (true) {
    reap_connections(false);
    bool want;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      want = want_web_;
    }
    if (want && !web_listener_.valid()) {
      std::string error;
      retry_open = !open_web_listener(&error);
      if (retry_open) {
        log("cannot reopen the " + error + "; trying again");
      } else {
        if (!config_.auth.keep_nonce_across_restart) {
          std::lock_guard<std::mutex> lock(responder_mutex_);
          responder_ = std::make_unique<WebResponder>(config_);  // a restart forgets its nonces
        }
        update([](DeviceStatus& status) {
          status.web_listening = true;
          if (status.state == DeviceState::restarting) status.state = DeviceState::serving;
        });
      }
    } else if (!want && web_listener_.valid()) {
      web_listener_.reset();
      update([](DeviceStatus& status) { status.web_listening = false; });
      log("web server down");
    }

    // At the connection limit the listener is left alone (its backlog holds newcomers) until a
    // connection thread ends; the short timeout looks for that.
    const bool full = connections_.size() >= std::max<std::size_t>(1, config_.max_connections);
    std::size_t which = 0;
    const WaitResult waited =
        wait_readable({full ? -1 : web_listener_.get(), web_wake_.fd()}, stop_signal_.fd(),
                      full ? 20 : (retry_open ? 200 : -1), &which);
    if (waited == WaitResult::stopped) break;
    if (waited == WaitResult::timeout) continue;
    if (which == 1) {
      web_wake_.drain();
      continue;
    }
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int accepted =
        ::accept4(web_listener_.get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (accepted < 0) continue;
    sockaddr_in local{};
    size = sizeof local;
    ::getsockname(accepted, reinterpret_cast<sockaddr*>(&local), &size);
    const WireEndpoint from{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)};
    const WireEndpoint to{ntohl(local.sin_addr.s_addr), ntohs(local.sin_port)};
    auto done = std::make_shared<std::atomic<bool>>(false);
    connections_.push_back({std::thread([this, accepted, from, to, done] {
                              serve_connection(accepted, from, to);
                              done->store(true);
                            }),
                            done});
  }
  reap_connections(true);
}

void Device::reap_connections(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Device::serve_connection(int fd, WireEndpoint peer, WireEndpoint local) {
  UniqueFd connection(fd);
  const auto closed = [&] {
    connection.reset();
    WireEntry entry;
    entry.kind = WireKind::http_closed;
    entry.from = peer;
    entry.to = local;
    note(std::move(entry));
  };

  // One request per connection, read until its empty line, within a size and time limit.
  std::string received;
  bool too_long = false;
  bool complete = false;
  const auto read_deadline =
      SteadyClock::now() + std::chrono::milliseconds(config_.request_read_timeout_ms);
  while (!complete && !too_long) {
    if (!wait_socket(connection.get(), POLLIN, stop_signal_.fd(), read_deadline)) break;
    char chunk[2048];
    const ssize_t got = ::recv(connection.get(), chunk, sizeof chunk, 0);
    if (got <= 0) break;
    received.append(chunk, static_cast<std::size_t>(got));
    const auto end = find_request_head_end(received);
    if (end && *end <= config_.max_request_size) {
      received.resize(*end);
      complete = true;
    } else if (received.size() > config_.max_request_size) {
      too_long = true;
      received.resize(config_.max_request_size);
    }
  }
  if (!complete && !too_long) {
    WireEntry entry;
    entry.kind = WireKind::http_request;
    entry.from = peer;
    entry.to = local;
    entry.bytes = received;
    entry.detail = "no complete request (closed or timed out), no answer";
    note(std::move(entry));
    closed();
    return;
  }

  DeviceIdentity identity = config_.identity;
  bool busy;
  DeviceCounters before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    identity.software_version = status_.software_version;
    busy = status_.state == DeviceState::transferring || status_.state == DeviceState::restarting ||
           status_.state == DeviceState::gone;
    before = status_.counters;
  }
  WebReply reply;
  {
    std::lock_guard<std::mutex> lock(responder_mutex_);
    reply = responder_->respond(received, too_long, identity, busy);
  }
  {
    WireEntry entry;
    entry.kind = WireKind::http_request;
    entry.from = peer;
    entry.to = local;
    entry.bytes = received;
    entry.status = reply.action == WebReply::Action::respond ? reply.status : 0;
    entry.detail = reply.summary;
    entry.rule = reply.rule;
    note(entry);
    if (!reply.rule.empty()) {
      entry.kind = WireKind::violation;
      entry.bytes.clear();
      entry.status = 0;
      note(std::move(entry));
    }
  }
  update([&reply](DeviceStatus& status) {
    ++status.counters.http_requests;
    if (reply.status == 401) ++status.counters.http_refused;
    if (!reply.rule.empty()) ++status.counters.violations;
  });

  if (reply.action == WebReply::Action::hold) {
    // Keep the connection open, unanswered, until the client gives up or the device stops.
    while (
        wait_socket(connection.get(), POLLIN, stop_signal_.fd(), SteadyClock::time_point::max())) {
      char chunk[512];
      if (::recv(connection.get(), chunk, sizeof chunk, 0) <= 0) break;
    }
    closed();
    return;
  }
  if (reply.action == WebReply::Action::respond) {
    const auto send_deadline = SteadyClock::now() + std::chrono::seconds(10);
    std::size_t sent = 0;
    while (sent < reply.bytes.size() &&
           wait_socket(connection.get(), POLLOUT, stop_signal_.fd(), send_deadline)) {
      const ssize_t wrote = ::send(connection.get(), reply.bytes.data() + sent,
                                   reply.bytes.size() - sent, MSG_NOSIGNAL);
      if (wrote <= 0) break;
      sent += static_cast<std::size_t>(wrote);
    }
  }
  if (reply.upgrade && config_.web_faults.hold_upgrade_connection) {
    // Answered; the connection stays open through the download and the restart.
    if (start_transfer(reply.upgrade->server_address, reply.upgrade->server_port,
                       reply.upgrade->file_name, 0, reply.upgrade->server_address)) {
      std::unique_lock<std::mutex> lock(mutex_);
      // Back means listening again, so a request made once this connection ends finds it.
      changed_.wait(lock, [&] {
        return stopping_ ||
               (status_.counters.restarts > before.restarts && status_.web_listening) ||
               status_.counters.transfers_failed > before.transfers_failed ||
               status_.state == DeviceState::gone;
      });
    }
    reply.upgrade.reset();
  }
  // Close gracefully: end our side, then let the client close, so no reset cuts the response.
  ::shutdown(connection.get(), SHUT_WR);
  const auto drain_deadline = SteadyClock::now() + std::chrono::milliseconds(500);
  while (wait_socket(connection.get(), POLLIN, stop_signal_.fd(), drain_deadline)) {
    char chunk[512];
    if (::recv(connection.get(), chunk, sizeof chunk, 0) <= 0) break;
  }
  closed();
  if (reply.upgrade) {
    start_transfer(reply.upgrade->server_address, reply.upgrade->server_port,
                   reply.upgrade->file_name, 0, reply.upgrade->server_address);
  }
}

void Device::recovery_loop() {
  bool retry_open = false;
  std::uint8_t buffer[512];
  while (true) {
    bool want;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      want = want_recovery_;
    }
    if (want && !recovery_own_socket_.valid()) {
      std::string error;
      retry_open = !open_recovery_sockets(&error);
      if (retry_open) log("cannot open the recovery sockets: " + error + "; trying again");
    } else if (!want && recovery_own_socket_.valid()) {
      recovery_own_socket_.reset();
      recovery_group_socket_.reset();
      log("recovery loader down");
    }

    std::size_t which = 0;
    const WaitResult waited = wait_readable(
        {recovery_group_socket_.get(), recovery_own_socket_.get(), recovery_wake_.fd()},
        stop_signal_.fd(), retry_open ? 200 : -1, &which);
    if (waited == WaitResult::stopped) return;
    if (waited == WaitResult::timeout) continue;
    if (which == 2) {
      recovery_wake_.drain();
      continue;
    }
    const int fd = which == 0 ? recovery_group_socket_.get() : recovery_own_socket_.get();
    while (const auto datagram = receive_datagram(fd, buffer, sizeof buffer)) {
      handle_recovery_datagram(fd, buffer, datagram->size, datagram->source_address,
                               datagram->source_port, datagram->destination_address,
                               datagram->truncated);
    }
  }
}

void Device::handle_recovery_datagram(int fd, const std::uint8_t* bytes, std::size_t size,
                                      std::uint32_t source, std::uint16_t source_port,
                                      std::uint32_t destination, bool truncated) {
  // The any-bound socket also sees unicast for other addresses on this port: only the group is
  // ours.
  const bool to_the_group = fd == recovery_group_socket_.get();
  if (to_the_group && destination != group_) return;
  const WireEndpoint from_endpoint{source, source_port};
  const WireEndpoint to_endpoint{to_the_group ? group_ : address_, config_.recovery.port};
  {
    WireEntry entry;
    entry.kind = WireKind::recovery_request;
    entry.from = from_endpoint;
    entry.to = to_endpoint;
    entry.bytes.assign(reinterpret_cast<const char*>(bytes), size);
    note(std::move(entry));
  }
  const std::string from = format_endpoint(source, source_port);
  const auto refuse = [&](const std::string& rule) {
    WireEntry entry;
    entry.kind = WireKind::violation;
    entry.from = from_endpoint;
    entry.to = to_endpoint;
    entry.rule = "recovery: " + rule;
    note(std::move(entry));
    update([](DeviceStatus& status) {
      ++status.counters.recovery_ignored;
      ++status.counters.violations;
    });
  };
  if (source == 0 && !config_.lenient.zero_source) return refuse("a datagram from 0.0.0.0");
  if (!config_.lenient.recovery_requests) {
    if (!to_the_group) return refuse("a request not addressed to the group");
    if (source_port != kRecoveryPcPort)
      return refuse("a request from port " + std::to_string(source_port) + ", not " +
                    std::to_string(kRecoveryPcPort));
  }
  const auto ignore = [&](const std::string& why) {
    log("recovery: ignored " + why + " from " + from);
    update([](DeviceStatus& status) { ++status.counters.recovery_ignored; });
  };
  const auto request = truncated ? std::nullopt : parse_recovery_request(bytes, size);
  if (!request)
    return ignore("a " + std::string(truncated ? "too long" : std::to_string(size) + "-byte") +
                  " datagram that is no recovery request");
  const bool search = request->type == static_cast<std::uint8_t>(RecoveryRequestType::search);
  const bool start = request->type == static_cast<std::uint8_t>(RecoveryRequestType::start);
  if (!search && !start) return ignore("a request of type " + std::to_string(request->type));
  if (!config_.recovery.match_any_serial && request->serial != config_.identity.serial_number) {
    return ignore(std::string(search ? "a search" : "a start request") + " for serial \"" +
                  request->serial + "\"");
  }

  const RecoveryReplyFault fault = config_.recovery.reply_fault;
  const bool reply =
      fault != RecoveryReplyFault::silent && (search || config_.recovery.answer_start_requests);
  std::string sent_reply = "no reply";
  if (reply) {
    DeviceIdentity identity = config_.identity;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      identity.software_version = status_.software_version;
    }
    const auto bytes_out = build_recovery_reply(identity, address_, fault);
    // Replies go to the PC's recovery port, whatever port a tolerated request came from.
    const std::uint16_t reply_port =
        config_.lenient.recovery_requests ? source_port : kRecoveryPcPort;
    send_datagram(recovery_own_socket_.get(), bytes_out, source, reply_port);
    WireEntry entry;
    entry.kind = WireKind::recovery_reply;
    entry.from = {address_, config_.recovery.port};
    entry.to = {source, reply_port};
    entry.bytes.assign(bytes_out.begin(), bytes_out.end());
    note(std::move(entry));
    sent_reply = std::to_string(bytes_out.size()) + "-byte reply" +
                 (fault == RecoveryReplyFault::zero_address ? " with address 0.0.0.0" : "");
  } else if (fault == RecoveryReplyFault::silent) {
    sent_reply = "no reply (fault)";
  }
  if (search) {
    log("recovery: search for serial \"" + request->serial + "\" from " + from + " -> " +
        sent_reply);
    update([](DeviceStatus& status) { ++status.counters.searches_matched; });
    return;
  }
  const bool to_group = config_.recovery.read_request_target == RecoveryRequestTarget::group;
  log("recovery: start request from " + from + " for \"" + request->file_name + "\" at port " +
      std::to_string(request->tftp_port) + " -> " + sent_reply);
  update([](DeviceStatus& status) { ++status.counters.start_requests; });
  if (request->tftp_port == 0 || request->file_name.empty()) {
    log("recovery: start request names no port or file; not fetching");
    return;
  }
  start_transfer(to_group ? group_ : source, request->tftp_port, request->file_name, group_,
                 source);
}

bool Device::start_transfer(std::uint32_t server, std::uint16_t port, const std::string& file_name,
                            std::uint32_t group, std::uint32_t answer_address) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    const DeviceState state = status_.state;
    if (state == DeviceState::transferring || state == DeviceState::restarting ||
        state == DeviceState::gone) {
      log("busy (" + std::string(to_string(state)) + "), not fetching " + file_name);
      return false;
    }
    status_.state = DeviceState::transferring;
    ++status_.counters.transfers_started;
  }
  changed_.notify_all();
  std::lock_guard<std::mutex> lock(transfer_thread_mutex_);
  if (transfer_thread_.joinable()) transfer_thread_.join();  // the previous one has finished
  transfer_thread_ =
      std::thread(&Device::transfer_main, this, server, port, file_name, group, answer_address);
  return true;
}

void Device::transfer_main(std::uint32_t server, std::uint16_t port, std::string file_name,
                           std::uint32_t group, std::uint32_t answer_address) {
  TftpDownloadRequest request;
  request.local_address = address_;
  request.server_address = server;
  request.server_port = port;
  request.file_name = std::move(file_name);
  request.group = group;
  request.answer_address = answer_address;
  request.lenient = config_.lenient;
  TftpDownloadHooks hooks;
  hooks.record = [this](WireEntry entry) {
    if (entry.kind == WireKind::violation)
      update([](DeviceStatus& status) { ++status.counters.violations; });
    note(std::move(entry));
  };
  hooks.log = [this](const std::string& line) { log(line); };
  hooks.block_received = [this] {
    update([](DeviceStatus& status) { ++status.counters.blocks_received; });
  };
  hooks.ack_sent = [this] { update([](DeviceStatus& status) { ++status.counters.acks_sent; }); };
  TftpDownloadResult result = run_tftp_download(request, config_.tftp, stop_signal_.fd(), hooks);

  std::optional<std::string> version;
  if (result.ok) {
    version = image_version(result.bytes);
    if (!version) {
      result.ok = false;
      result.complete = true;
      result.failure =
          "image of " + std::to_string(result.bytes.size()) + " bytes has no complete header";
      log("not flashing: " + result.failure);
    }
  }
  if (result.ok && config_.on_image_received) config_.on_image_received(result.bytes);
  {
    WireEntry entry;
    entry.kind = WireKind::tftp_end;
    entry.from = {server, port};
    entry.to = {address_, 0};
    entry.bytes.assign(result.bytes.begin(), result.bytes.end());
    entry.detail = result.ok         ? "stored"
                   : result.complete ? "not flashed: " + result.failure
                                     : "failed: " + result.failure;
    note(std::move(entry));
  }

  std::unique_lock<std::mutex> lock(mutex_);
  received_ = std::move(result.bytes);
  if (!result.ok) {
    ++status_.counters.transfers_failed;
    status_.last_failure = result.failure;
    status_.state = status_.in_recovery ? DeviceState::recovery : DeviceState::serving;
    lock.unlock();
    changed_.notify_all();
    return;
  }
  ++status_.counters.transfers_completed;
  status_.state = config_.never_returns ? DeviceState::gone : DeviceState::restarting;
  want_web_ = false;
  want_recovery_ = false;
  lock.unlock();
  changed_.notify_all();
  web_wake_.raise();
  recovery_wake_.raise();
  if (config_.never_returns) {
    log("image stored (version " + *version + "); the device never comes back (fault)");
    return;
  }
  log("image stored, restarting with software " + *version + " in " +
      std::to_string(config_.restart_delay_ms) + " ms");

  lock.lock();
  const auto back = SteadyClock::now() + std::chrono::milliseconds(config_.restart_delay_ms);
  if (changed_.wait_until(lock, back, [this] { return stopping_; })) return;
  status_.software_version = *version;
  status_.in_recovery = false;
  ++status_.counters.restarts;
  want_web_ = true;  // the web thread reopens its listener and reports serving
  lock.unlock();
  changed_.notify_all();
  web_wake_.raise();
  log("restarted with software " + *version);
}

}  // namespace sim
