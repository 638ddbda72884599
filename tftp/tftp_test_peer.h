// A small TFTP download client for the tests of this folder: it plays the device against the
// PC's server over loopback, with per-block faults, and records every datagram it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tftp/tftp_packets.h"

namespace vxt::test {

using Bytes = std::vector<unsigned char>;

enum class AckFault {
  lose_first,    // ignore the first copy of the packet; acknowledge its retransmission
  duplicate,     // acknowledge twice
  stale,         // acknowledge the previous block first
  foreign_port,  // the first acknowledgement leaves from another port
  error_first,   // answer the first copy with an ERROR packet instead
  silent,        // acknowledge nothing from this packet on
};

class TestPeer {
 public:
  explicit TestPeer(std::uint32_t address) : address_(address) {
    socket_ = socket_on(address);
    other_ = socket_on(address);
  }
  ~TestPeer() {
    stop();
    socket_close(socket_);
    socket_close(other_);
  }
  std::uint16_t port() const { return socket_local_port(socket_); }
  std::uint32_t address() const { return address_; }
  Socket socket() const { return socket_; }

  void fault(std::uint32_t block, AckFault f) { faults_[block] = f; }

  // Sends a read request and then downloads from whatever endpoint answers, on a thread.
  void request(std::uint32_t server, std::uint16_t server_port, const Bytes& request) {
    socket_send_to(socket_, request.data(), static_cast<int>(request.size()), server, server_port);
    start();
  }
  // Downloads from a server that starts without a request (the session tests).
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // What the peer received, in order, each with its source port.
  std::vector<Bytes> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  std::vector<std::uint16_t> source_ports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_;
  }
  // The image as the peer stored it: each block's data once, in block order.
  Bytes image() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes all;
    for (const auto& entry : blocks_)
      all.insert(all.end(), entry.second.begin(), entry.second.end());
    return all;
  }
  bool finished() const { return finished_; }

  static Bytes read_request(const std::string& name, const std::string& mode = "octet") {
    Bytes r{0, 1};
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0);
    r.insert(r.end(), mode.begin(), mode.end());
    r.push_back(0);
    return r;
  }

 private:
  static Socket socket_on(std::uint32_t address) {
    const Socket s = udp_socket();
    socket_bind(s, address, 0);
    return s;
  }

  void ack(Socket from, std::uint32_t block, std::uint32_t to, std::uint16_t to_port) {
    unsigned char a[4];
    put_be16(a, tftp_acknowledgement);
    put_be16(a + 2, block);
    socket_send_to(from, a, 4, to, to_port);
  }

  void run() {
    std::map<std::uint32_t, int> copies;  // by block, 0 = option acknowledgement
    bool silent = false;
    while (!stopping_) {
      if (!socket_wait_readable(socket_, 20)) continue;
      unsigned char buffer[2048];
      std::uint32_t from = 0;
      std::uint16_t from_port = 0;
      const int n = socket_receive_from(socket_, buffer, sizeof buffer, &from, &from_port);
      if (n < 0) continue;
      std::uint32_t block = 0;
      bool last = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.emplace_back(buffer, buffer + n);
        ports_.push_back(from_port);
        if (n < 2) continue;
        const std::uint16_t opcode = get_be16(buffer);
        if (opcode == tftp_data && n >= 4) {
          block = get_be16(buffer + 2);
          blocks_[block] = Bytes(buffer + 4, buffer + n);
          last = n < 4 + tftp_block_size;
        } else if (opcode != tftp_option_ack) {
          continue;
        }
      }
      const int copy = ++copies[block];
      const auto found = faults_.find(block);
      if (found != faults_.end() && found->second == AckFault::silent) silent = true;
      if (silent) continue;
      if (found != faults_.end()) {
        switch (found->second) {
          case AckFault::lose_first:
            if (copy == 1) continue;
            break;
          case AckFault::duplicate:
            ack(socket_, block, from, from_port);
            break;
          case AckFault::stale:
            ack(socket_, block - 1, from, from_port);
            break;
          case AckFault::foreign_port:
            if (copy == 1) {
              ack(other_, block, from, from_port);
              continue;
            }
            break;
          case AckFault::error_first:
            if (copy == 1) {
              const unsigned char error[] = {0, 5, 0, 0, 'n', 'o', 0};
              socket_send_to(socket_, error, sizeof error, from, from_port);
              continue;
            }
            break;
          case AckFault::silent:
            break;
        }
      }
      ack(socket_, block, from, from_port);
      if (last) finished_ = true;
    }
  }

  std::uint32_t address_;
  Socket socket_ = invalid_socket;
  Socket other_ = invalid_socket;
  std::map<std::uint32_t, AckFault> faults_;  // set before start
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{false};
  mutable std::mutex mutex_;
  std::vector<Bytes> received_;
  std::vector<std::uint16_t> ports_;
  std::map<std::uint32_t, Bytes> blocks_;
};

}  // namespace vxt::test
