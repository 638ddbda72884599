#include "tftp/tftp_session.h"

#include <cstdio>
#include <cstring>

#include "core/session_state.h"
#include "platform/clock.h"
#include "tftp/poll_slot.h"

namespace vxt {

void send_option_ack(Socket socket, unsigned char* packet, const Ipv4Endpoint& destination,
                     std::uint32_t image_size) {
  const int length = build_option_ack(packet, image_size);
  socket_send_to_endpoint(socket, packet, length, destination);
}

void send_data_block(Socket socket, unsigned char* packet, const unsigned char* data, int length,
                     std::uint32_t block, const Ipv4Endpoint& destination) {
  const int size = build_data_block(packet, data, length, block);
  socket_send_to_endpoint(socket, packet, size, destination);
}

void prepare_tftp_session(TftpSession* s, std::uint32_t image_size) {
  s->current_block = 0;
  s->bytes_acked = 0;
  s->current_size = 0;
  s->image_size = image_size;
  s->block_count = image_size / tftp_block_size + 1;
  s->last_block_size = static_cast<std::int32_t>(image_size % tftp_block_size);
}

bool transfer_image(TftpSession* s, const unsigned char* image, Window* window) {
  Ipv4Endpoint destination;
  make_ipv4_endpoint(s->group_address != 0 ? s->group_address : s->peer_address, s->peer_port,
                     &destination);
  Ipv4Endpoint peer;
  make_ipv4_endpoint(s->peer_address, s->peer_port, &peer);
  const unsigned char* send_position = image;

  send_option_ack(s->socket, s->packet, destination, s->image_size);
  int polls = 0;
  int periods = 0;
  PollSlot slot;
  for (;;) {
    Ipv4Endpoint source{0, 0};
    const int received =
        socket_receive_from_endpoint(s->socket, s->packet, tftp_receive_limit, &source);
    switch (classify_session_datagram(received, s->packet, source, peer, s->current_block)) {
      case SessionDatagram::nothing:
      case SessionDatagram::foreign_source:
      case SessionDatagram::not_an_ack:
        break;
      case SessionDatagram::other_block_ack:
        continue;  // duplicates and stale ones are drained without a pause or a count
      case SessionDatagram::expected_ack: {
        s->current_block += 1;
        s->bytes_acked += s->current_size;
        periods = 0;
        polls = 0;
        end_poll_slot(&slot);
        set_progress_position(window, transfer_progress_bar, static_cast<int>(s->current_block));
        char caption[96];
        std::snprintf(caption, sizeof caption, "Uploading Firmware to VXT@%s %d/%d Bytes",
                      session.device_label, s->bytes_acked, static_cast<int>(s->image_size));
        set_caption(window, caption);
        if (s->current_block > s->block_count) return true;
        s->current_size = s->current_block == s->block_count ? s->last_block_size : tftp_block_size;
        if (s->current_block != 1) send_position += tftp_block_size;
        send_data_block(s->socket, s->packet, send_position, s->current_size, s->current_block,
                        destination);
        continue;
      }
    }
    if (!wait_out_poll_slot(s->socket, &slot)) continue;  // something arrived: take it now
    // One poll has passed: one window event, then the count.
    poll_event(window);
    if (++polls < polls_per_period) continue;
    if (++periods >= periods_before_giving_up) return false;
    if (s->current_block == 0) {
      send_option_ack(s->socket, s->packet, destination, s->image_size);
    } else {
      send_data_block(s->socket, s->packet, send_position, s->current_size, s->current_block,
                      destination);
    }
    polls = 0;
  }
}

void settle_wait(Window* window) {
  const std::uint32_t start_tick = clock_ms() >> 5;
  set_progress_range(window, transfer_progress_bar, settle_ticks);
  set_progress_position(window, transfer_progress_bar, 0);
  char caption[64];
  std::snprintf(caption, sizeof caption, "Updating Firmware to VXT@%s", session.device_label);
  set_caption(window, caption);
  for (;;) {
    std::uint32_t tick = clock_ms() >> 5;
    if (tick < start_tick) tick += 1u << 27;  // the 32-bit clock wrapped
    set_progress_position(window, transfer_progress_bar, static_cast<int>(tick - start_tick));
    while (poll_event(window)) {
    }
    if (tick >= start_tick + settle_ticks) return;
    sleep_ms(32);
  }
}

}  // namespace vxt
