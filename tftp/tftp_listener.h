// The PC's TFTP server end: a UDP socket on port 69 (or the next free port up to 168),
// optionally joined to a multicast group, and a thread that shows the waiting window until the
// device asks for the session's file, then runs the upload session on the same socket.
#pragma once

#include <cstdint>

#include "platform/socket.h"
#include "platform/window.h"
#include "tftp/tftp_packets.h"

namespace vxt {

constexpr int waiting_dialog = 114;
constexpr int waiting_progress_bar = 1010;
constexpr int waiting_instructions = 1032;
constexpr std::uint16_t first_tftp_port = 69;
constexpr int tftp_port_tries = 100;  // ports 69..168

extern const char* const waiting_instruction_text;

struct TftpListener {
  std::uint32_t local_address;  // 0 = any
  std::uint16_t port;
  Socket socket;
  // Holds the whole receive limit, so no datagram that is taken in can run past it.
  unsigned char packet[tftp_receive_limit];
  std::uint32_t group_address;  // 0 when none
};

// Binds, joins the group when one is given (dotted text, or nullptr for none), starts the
// listener thread and returns the bound port. Returns 0 with the socket closed and no thread
// when the group cannot be joined; every other failure ends the process.
std::uint16_t start_tftp_listener(std::uint32_t local_address, const char* group);

// The listener thread's body: waiting window, then the upload session. Never returns.
int tftp_listener_thread(void* listener);

enum class ListenerSocketResult { opened, no_socket, no_free_port, group_not_joined };
// Creates the listener's socket, binds the first free port from 69 (100 tries) and joins the
// group when one is given; fills `socket`, `port` and `group_address`. The socket is closed
// again on every failure but no_socket.
ListenerSocketResult open_tftp_listener_socket(TftpListener* listener, std::uint32_t local_address,
                                               const char* group);

// Waits with the waiting window up for a read request for `file_name` and returns its source.
// Window events are handled between empty polls; other datagrams are drained at once.
void wait_for_read_request(TftpListener* listener, Window* window, const char* file_name,
                           std::uint32_t* peer_address, std::uint16_t* peer_port);

}  // namespace vxt
