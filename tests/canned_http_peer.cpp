#include "tests/canned_http_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace vxt::test {

CannedHttpPeer::CannedHttpPeer(std::uint32_t address, std::uint16_t port,
                               std::vector<std::string> responses)
    : responses_(std::move(responses)) {
  if (::pipe(wake_) != 0) return;
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0) {
    ::close(s);
    return;
  }
  socklen_t length = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  listener_ = s;
  thread_ = std::thread([this] { serve(); });
}

CannedHttpPeer::~CannedHttpPeer() {
  if (thread_.joinable()) {
    const char byte = 0;
    if (::write(wake_[1], &byte, 1) != 1) {
    }
    thread_.join();
  }
  if (listener_ >= 0) ::close(listener_);
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

std::vector<std::string> CannedHttpPeer::heads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heads_;
}

std::vector<std::uint16_t> CannedHttpPeer::client_ports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_ports_;
}

void CannedHttpPeer::serve() {
  for (std::size_t served = 0;; ++served) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) return;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int c = ::accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
    if (c < 0) continue;
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      pollfd wait[2] = {{c, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(wait, 2, -1) < 0 || (wait[1].revents & POLLIN) != 0) {
        ::close(c);
        return;
      }
      const ssize_t n = ::recv(c, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      head.append(chunk, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      heads_.push_back(head);
      client_ports_.push_back(ntohs(peer.sin_port));
    }
    if (!responses_.empty()) {
      const std::string& r =
          responses_[served < responses_.size() ? served : responses_.size() - 1];
      std::size_t sent = 0;
      while (sent < r.size()) {
        const ssize_t n = ::send(c, r.data() + sent, r.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
    }
    ::close(c);
  }
}

}  // namespace vxt::test
