// A web peer that answers each connection with the next of a list of canned responses and
// keeps every request head it read: for answers the simulated device is not made to give
// (byte-exact sizes, NUL bytes, a run of fresh nonces).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vxt::test {

class CannedHttpPeer {
 public:
  // Listens on address:port (host order; port 0 picks one). Every response is sent whole, then
  // the connection is closed; past the end of the list the last one repeats.
  CannedHttpPeer(std::uint32_t address, std::uint16_t port, std::vector<std::string> responses);
  ~CannedHttpPeer();
  CannedHttpPeer(const CannedHttpPeer&) = delete;
  CannedHttpPeer& operator=(const CannedHttpPeer&) = delete;

  bool listening() const { return listener_ >= 0; }
  std::uint16_t port() const { return port_; }
  // The request heads read so far, one per connection, and the client ports they came from.
  std::vector<std::string> heads() const;
  std::vector<std::uint16_t> client_ports() const;

 private:
  void serve();

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::vector<std::string> responses_;
  mutable std::mutex mutex_;
  std::vector<std::string> heads_;
  std::vector<std::uint16_t> client_ports_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace vxt::test
