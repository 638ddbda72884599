// The upload session: serves the firmware image to the device that asked for it, waits while
// the device stores it and restarts, checks the device and shows the result. It runs on the
// listener's thread and ends the process.
#pragma once

#include <cstdint>

#include "platform/socket.h"
#include "platform/window.h"
#include "tftp/tftp_packets.h"

namespace vxt {

constexpr int uploading_dialog = 110;
constexpr int success_dialog = 111;
constexpr int transfer_progress_bar = 1010;
constexpr int settle_ticks = 1562;  // of 32 ms: 49,984 ms
constexpr int polls_per_period = 100;
constexpr int periods_before_giving_up = 30;

struct TftpSession {
  char file_name[tftp_max_file_name + 1];
  unsigned char packet[tftp_receive_limit];  // every packet in and out
  std::uint32_t local_address;
  std::uint32_t peer_address;
  std::uint32_t group_address;  // 0 when none
  std::uint16_t local_port;
  std::uint16_t peer_port;
  Socket socket;
  std::uint32_t current_block;  // acknowledgements accepted = number of the packet last sent
  std::uint32_t image_size;
  std::uint32_t block_count;  // image_size / 512 + 1
  std::int32_t bytes_acked;
  std::int32_t last_block_size;
  std::int32_t current_size;
};

void send_option_ack(Socket socket, unsigned char* packet, const Ipv4Endpoint& destination,
                     std::uint32_t image_size);
void send_data_block(Socket socket, unsigned char* packet, const unsigned char* data, int length,
                     std::uint32_t block, const Ipv4Endpoint& destination);

// Fills a session for the accepted request and runs it. Never returns.
[[noreturn]] void start_tftp_session(Socket socket, std::uint32_t group_address,
                                     std::uint32_t local_address, std::uint16_t local_port,
                                     std::uint32_t peer_address, std::uint16_t peer_port,
                                     const char* file_name);
// Transfer, settle wait, check and result. Never returns.
[[noreturn]] void run_tftp_session(TftpSession* s);

// The stages of run_tftp_session, each on the calling thread with window 110 its own.
// Sets the session's sizes from `image_size` and zeroes its counters.
void prepare_tftp_session(TftpSession* s, std::uint32_t image_size);
// Stop-and-wait transfer of `image` (session->image_size bytes) until every block is
// acknowledged (true) or 30 periods pass without an accepted acknowledgement (false).
bool transfer_image(TftpSession* session, const unsigned char* image, Window* window);
// The 49,984 ms wait on the 32-bit clock, its wrap included, with the progress bar.
void settle_wait(Window* window);

}  // namespace vxt
