// For tests: a small stand-in for the devices on the recovery group. It records every
// datagram that reaches 234.4.8.10 port 4810 (bytes, source, destination) and answers each
// one as the test's script says, from any sender address and port the script names.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/udp_socket.h"

namespace vxt::test {

struct SeenRequest {
  std::vector<std::uint8_t> bytes;
  std::uint32_t source_address = 0;
  std::uint16_t source_port = 0;
  std::uint32_t destination_address = 0;
};

struct ScriptedReply {
  std::vector<std::uint8_t> bytes;
  std::uint32_t from_address = 0x7F000002;  // 127.0.0.2
  std::uint16_t from_port = 4810;
};

class RecoveryTestPeer {
 public:
  // answer(index of the request, from 0; the request) -> datagrams to send to its source.
  using Script = std::function<std::vector<ScriptedReply>(int, const SeenRequest&)>;

  explicit RecoveryTestPeer(Script script) : script_(std::move(script)) {
    std::string error;
    listener_ = sim::open_udp_socket(0, 4810, true, &error);
    ok_ = listener_.valid() &&
          sim::join_multicast_group(listener_.get(), 0xEA04080A, 0x7F000001, &error) &&
          sim::enable_destination_info(listener_.get(), &error);
    error_ = error;
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~RecoveryTestPeer() {
    stop_.raise();
    if (thread_.joinable()) thread_.join();
  }
  RecoveryTestPeer(const RecoveryTestPeer&) = delete;
  RecoveryTestPeer& operator=(const RecoveryTestPeer&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  std::vector<SeenRequest> seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  // Waits (bounded, against hangs only) until at least `count` requests were seen.
  bool wait_for_requests(std::size_t count, double seconds = 30) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                             [&] { return seen_.size() >= count; });
  }

 private:
  void run() {
    std::uint8_t buffer[4096];
    for (;;) {
      std::size_t which = 0;
      if (sim::wait_readable({listener_.get()}, stop_.fd(), -1, &which) != sim::WaitResult::ready)
        return;
      const auto datagram = sim::receive_datagram(listener_.get(), buffer, sizeof buffer);
      if (!datagram) continue;
      SeenRequest request;
      request.bytes.assign(buffer, buffer + datagram->size);
      request.source_address = datagram->source_address;
      request.source_port = datagram->source_port;
      request.destination_address = datagram->destination_address;
      int index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = static_cast<int>(seen_.size());
        seen_.push_back(request);
      }
      for (const ScriptedReply& reply : script_(index, request)) send(reply, request);
      changed_.notify_all();
    }
  }

  static void send(const ScriptedReply& reply, const SeenRequest& to) {
    std::string error;
    sim::UniqueFd s = sim::open_udp_socket(reply.from_address, reply.from_port, true, &error);
    if (s.valid()) sim::send_datagram(s.get(), reply.bytes, to.source_address, to.source_port);
  }

  Script script_;
  sim::UniqueFd listener_;
  bool ok_ = false;
  std::string error_;
  sim::Signal stop_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<SeenRequest> seen_;
  std::thread thread_;
};

// A datagram of `size` bytes whose every byte is `fill` (no zero byte when fill is not 0).
inline std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t fill) {
  return std::vector<std::uint8_t>(size, fill);
}

}  // namespace vxt::test
