#include "tftp/tftp_listener.h"

#include <new>

#include "core/report_failure.h"
#include "core/session_state.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tftp/tftp_session.h"
#include "tftp/transfer_window.h"

namespace vxt {

const char* const waiting_instruction_text =
    "Firmware upload will begin when the VXT is idle, where the VXT will request to download "
    "the firmware from this PC using TFTP at the first available UDP port starting at port "
    "number 69.\r\n\r\nIf firmware download does not start, please check that you have done "
    "the following: a) Hangup properly all the phones attached to the VXT, b) Disable any "
    "firewall software (such as Internet Connection Firewall) on this PC, and c) Make sure "
    "that this PC and the VXT are on the same LAN subnet; it will not work for example if "
    "this PC is behind a router while the VXT is in front of it.";

namespace {

[[noreturn]] void fail(const char* text) {
  report_failure(text);
  end_process(0);
}

}  // namespace

ListenerSocketResult open_tftp_listener_socket(TftpListener* listener, std::uint32_t local_address,
                                               const char* group) {
  listener->socket = udp_socket();
  if (listener->socket == invalid_socket) return ListenerSocketResult::no_socket;
  // Linux hands group datagrams only to sockets bound to the any-address; with a group the
  // socket binds that and sends from the PC's address through the group's interface instead.
  const std::uint32_t bind_address = group != nullptr ? 0 : local_address;
  listener->port = 0;
  for (int i = 0; i < tftp_port_tries && listener->port == 0; ++i) {
    const auto port = static_cast<std::uint16_t>(first_tftp_port + i);
    if (socket_bind(listener->socket, bind_address, port)) listener->port = port;
  }
  if (listener->port == 0) {
    socket_close(listener->socket);
    return ListenerSocketResult::no_free_port;
  }
  listener->group_address = 0;
  if (group != nullptr) {
    std::uint32_t group_address = 0;
    if (!dotted_to_address(group, &group_address) ||
        !socket_join_group(listener->socket, group_address, local_address) ||
        !socket_set_multicast_interface(listener->socket, local_address)) {
      socket_close(listener->socket);
      return ListenerSocketResult::group_not_joined;
    }
    listener->group_address = group_address;
  }
  listener->local_address = local_address;
  return ListenerSocketResult::opened;
}

std::uint16_t start_tftp_listener(std::uint32_t local_address, const char* group) {
  auto* listener = new (std::nothrow) TftpListener{};
  if (listener == nullptr) fail("Upgrade Failed: Can't malloc for TFTP listener");
  switch (open_tftp_listener_socket(listener, local_address, group)) {
    case ListenerSocketResult::opened:
      break;
    case ListenerSocketResult::no_socket:
      fail("Upgrade Failed: Can't create TFTP listener socket");
    case ListenerSocketResult::no_free_port:
      fail("Upgrade Failed: Can't bind TFTP listener socket");
    case ListenerSocketResult::group_not_joined:
      message_box(nullptr, "Error", "setsockopt");
      delete listener;
      return 0;
  }
  if (start_thread(tftp_listener_thread, listener) == nullptr) {
    // No thread, no server: the nearest of the listener's own messages.
    fail("Upgrade Failed: Can't create TFTP listener socket");
  }
  return listener->port;
}

void wait_for_read_request(TftpListener* listener, Window* window, const char* file_name,
                           std::uint32_t* peer_address, std::uint16_t* peer_port) {
  int activity = 0;
  for (;;) {
    Ipv4Endpoint source{0, 0};
    const int received = socket_receive_from_endpoint(listener->socket, listener->packet,
                                                      tftp_receive_limit, &source);
    if (received <= 0) {
      // At most 1 ms, ending when a datagram arrives: a request is taken at once.
      socket_wait_readable(listener->socket, 1);
      if (++activity == 1000) activity = 0;
      set_progress_position(window, waiting_progress_bar, activity);
      while (poll_event(window)) {
      }
      continue;
    }
    // Everything else is drained at once: no pause, no progress step, no events.
    if (is_read_request_for(listener->packet, received, file_name)) {
      split_ipv4_endpoint(source, peer_address, peer_port);
      return;
    }
  }
}

int tftp_listener_thread(void* argument) {
  auto* listener = static_cast<TftpListener*>(argument);
  Window* window = create_modeless(waiting_dialog, transfer_window_proc);
  show_window(window);
  set_progress_range(window, waiting_progress_bar, 1000);
  set_progress_position(window, waiting_progress_bar, 0);
  set_control_text(window, waiting_instructions, waiting_instruction_text);
  socket_set_non_blocking(listener->socket);

  std::uint32_t peer_address = 0;
  std::uint16_t peer_port = 0;
  wait_for_read_request(listener, window, session.tftp_file_name, &peer_address, &peer_port);
  destroy_window(window);
  start_tftp_session(listener->socket, listener->group_address, listener->local_address,
                     listener->port, peer_address, peer_port,
                     reinterpret_cast<const char*>(listener->packet + 2));
}

}  // namespace vxt
