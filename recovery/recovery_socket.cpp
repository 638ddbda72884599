#include "recovery/recovery_socket.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/window.h"

namespace vxt {
namespace {

constexpr int attempts_per_exchange = 5;
constexpr int polls_per_attempt = 5;
constexpr unsigned wait_before_poll_ms = 500;

enum class SocketState { absent, open, closed };

// Touched only by the thread running the exchange (the search worker, then the main thread
// after the worker's result was delivered) and at the process's end.
SocketState state = SocketState::absent;
Socket recovery_socket = invalid_socket;

void show_setup_failure(const char* what) {
  char text[96];
  std::snprintf(text, sizeof text, "%s Error: %d", what, socket_last_error());
  message_box(nullptr, "Error", text);
}

// Linux hands group datagrams only to sockets bound to the any-address, so the socket binds
// that with port 4811, joins the group on the PC address and sends through that address's
// interface, which is where a bind to the PC address would have sent from.
bool set_up_socket(std::uint32_t local_address) {
  const Socket s = udp_socket();
  if (s == invalid_socket) {
    show_setup_failure("Allocating socket failed!");
    return false;
  }
  const char* failure = nullptr;
  if (!socket_set_non_blocking(s)) {
    failure = "Set socket Non-blocking failed!";
  } else if (!socket_bind(s, 0, recovery_local_port)) {
    failure = "Binding socket failed!";
  } else if (!socket_join_group(s, recovery_group, local_address) ||
             !socket_set_multicast_interface(s, local_address)) {
    failure = "setsockopt failed!";
  }
  if (failure != nullptr) {
    show_setup_failure(failure);  // reads the error number before the close can change it
    socket_close(s);
    return false;
  }
  recovery_socket = s;
  state = SocketState::open;
  return true;
}

}  // namespace

bool take_recovery_reply(Socket s, unsigned char (&reply)[recovery_reply_size]) {
  // The layer reports a longer datagram as an error, never as one that fills the buffer.
  return socket_receive_from(s, reply, recovery_reply_size, nullptr, nullptr) ==
         recovery_reply_size;
}

bool recovery_exchange(const RecoveryRequest& request, unsigned char (&reply)[recovery_reply_size],
                       std::uint32_t local_address) {
  if (state == SocketState::closed) return false;
  if (state == SocketState::absent && !set_up_socket(local_address)) return false;

  RecoveryRequest sent = request;
  std::memcpy(sent.magic, "RECM", sizeof sent.magic);
  for (int attempt = 0; attempt < attempts_per_exchange; ++attempt) {
    if (socket_send_to(recovery_socket, &sent, sizeof sent, recovery_group, recovery_device_port) !=
        recovery_request_size) {
      message_box(nullptr, "error", "Sending error");
      continue;
    }
    for (int poll = 0; poll < polls_per_attempt; ++poll) {
      sleep_ms(wait_before_poll_ms);
      if (take_recovery_reply(recovery_socket, reply)) return true;
    }
  }
  return false;
}

void close_recovery_socket() {
  if (state != SocketState::open) return;
  socket_shutdown_receive(recovery_socket);
  socket_close(recovery_socket);
  recovery_socket = invalid_socket;
  state = SocketState::closed;
}

}  // namespace vxt
