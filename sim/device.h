// A VXT device in software: web server with Digest authentication, TFTP client for upgrades,
// recovery loader, restart after a "flash", and the fault knobs of DeviceConfig.
//
// It is a strict peer: it refuses what a real VXT device would not understand (DeviceConfig's
// Leniency turns each point back to tolerance, for third-party peers such as curl or
// tftpd-hpa):
//   HTTP      the head exactly as the wizard writes it and the Authorization line in its exact
//             Digest form (strict_request.h); anything else gets 400 Bad Request
//   TFTP      the server's first answer is the option acknowledgement "tsize" <size> then
//             "timeout" "5"; no DATA before the device acknowledged the block before it; every
//             answer from the port the command or start request named; in a recovery every
//             packet addressed to the group; the transfer is abandoned otherwise (nothing
//             flashed, no restart)
//   recovery  requests to the group 234.4.8.10:4810 only, from port 4811; otherwise no reply
//   any       a datagram from 0.0.0.0 is never answered
// Every refusal is logged and recorded as a violation.
//
// The record (wire_record.h) keeps, in order, what crossed the wire; record() returns a copy,
// and vxt-device-sim logs each entry as it is made.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_config.h"
#include "sim/udp_socket.h"
#include "sim/wire_record.h"

namespace sim {

class WebResponder;

enum class DeviceState {
  serving,       // web server up, nothing under way
  recovery,      // recovery loader: no web server, answers the recovery group
  transferring,  // fetching an image over TFTP (the web server stays up in normal mode)
  restarting,    // image stored, web server silent for the restart delay
  gone,          // stored an image and never came back (fault)
  stopped,
};

const char* to_string(DeviceState state);

struct DeviceCounters {
  std::uint32_t http_requests = 0;  // requests handled, whatever the answer
  std::uint32_t http_refused = 0;   // of which answered 401
  std::uint32_t searches_matched =
      0;  // searches for our serial (answered unless the fault is silent)
  std::uint32_t recovery_ignored = 0;  // datagrams on the recovery port not answered
  std::uint32_t start_requests = 0;
  std::uint32_t transfers_started = 0;
  std::uint32_t transfers_completed = 0;
  std::uint32_t transfers_failed = 0;
  std::uint32_t blocks_received = 0;
  std::uint32_t acks_sent = 0;
  std::uint32_t restarts = 0;
  std::uint32_t violations = 0;      // strict rules broken (each one also in the record)
  std::uint32_t record_dropped = 0;  // entries past DeviceConfig::record_limit, not kept
};

struct DeviceStatus {
  DeviceState state = DeviceState::stopped;
  bool in_recovery = false;
  bool web_listening = false;  // the web server's socket is open
  std::string software_version;
  DeviceCounters counters;
  std::string last_failure;  // why the last transfer failed
};

class Device {
 public:
  explicit Device(DeviceConfig config);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Opens the sockets of the starting mode and starts the service threads. When it returns true
  // the device answers at once.
  bool start(std::string* error);
  // Stops every thread and closes every socket; safe to call twice.
  void stop();

  DeviceStatus status() const;
  std::vector<std::uint8_t> received_image() const;  // the bytes of the last transfer
  std::uint16_t web_port() const;                    // the bound port (useful with web_port 0)

  // Blocks until predicate(status) holds or timeout passes; returns whether it holds.
  bool wait_until(const std::function<bool(const DeviceStatus&)>& predicate,
                  std::chrono::milliseconds timeout) const;

  // The wire record, in order (a copy), and filters over it.
  std::vector<WireEntry> record() const;
  std::vector<WireEntry> record(WireKind kind) const;
  std::vector<std::string> http_request_heads() const;  // the raw heads, one per connection
  std::vector<WireEntry> violations() const;
  void clear_record();
  // Blocks until predicate(record) holds or timeout passes; returns whether it holds.
  bool wait_for_record(const std::function<bool(const std::vector<WireEntry>&)>& predicate,
                       std::chrono::milliseconds timeout) const;

 private:
  void log(const std::string& line);
  void update(const std::function<void(DeviceStatus&)>& change);
  void note(WireEntry entry);  // adds to the record and logs it

  bool open_web_listener(std::string* error);
  bool open_recovery_sockets(std::string* error);
  void web_loop();
  void serve_connection(int fd, WireEndpoint peer, WireEndpoint local);
  void reap_connections(bool all);
  void recovery_loop();
  void handle_recovery_datagram(int fd, const std::uint8_t* bytes, std::size_t size,
                                std::uint32_t source, std::uint16_t source_port,
                                std::uint32_t destination, bool truncated);
  // answer_address: where the server's answers must come from.
  bool start_transfer(std::uint32_t server, std::uint16_t port, const std::string& file_name,
                      std::uint32_t group, std::uint32_t answer_address);
  void transfer_main(std::uint32_t server, std::uint16_t port, std::string file_name,
                     std::uint32_t group, std::uint32_t answer_address);

  const DeviceConfig config_;
  std::uint32_t address_ = 0;
  std::uint32_t group_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  DeviceStatus status_;
  std::vector<std::uint8_t> received_;
  std::vector<WireEntry> record_;
  bool want_web_ = false;       // the web thread opens or closes its listener to match
  bool want_recovery_ = false;  // likewise the recovery thread its sockets
  bool stopping_ = false;
  bool started_ = false;
  std::uint16_t web_port_ = 0;

  std::mutex log_mutex_;
  Signal stop_signal_;
  Signal web_wake_;
  Signal recovery_wake_;

  // Owned by the web and recovery threads once they run.
  UniqueFd web_listener_;
  UniqueFd recovery_group_socket_;
  UniqueFd recovery_own_socket_;

  // The web server's state shared by its connection threads.
  std::mutex responder_mutex_;
  std::unique_ptr<WebResponder> responder_;
  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Connection> connections_;  // owned by the web thread

  std::thread web_thread_;
  std::thread recovery_thread_;
  std::mutex transfer_thread_mutex_;
  std::thread transfer_thread_;
};

}  // namespace sim
