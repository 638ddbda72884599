// Feeds arbitrary datagrams to the listener's request check and to the session's
// classification, each held in exactly its own bytes: any read past them is ASan's; a
// verdict that the bytes do not bear out aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tftp/tftp_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(vxt::tftp_receive_limit)) return 0;  // never taken in
  const int length = static_cast<int>(size);
  std::unique_ptr<unsigned char[]> packet(new unsigned char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(packet.get(), data, size);

  const char* name = "/vxt2f1a.bin";
  const std::size_t name_length = std::strlen(name);
  if (vxt::is_read_request_for(packet.get(), length, name)) {
    if (size < name_length + 3 || packet[0] != 0 || packet[1] != 1 ||
        std::memcmp(packet.get() + 2, name, name_length + 1) != 0) {
      std::abort();
    }
  }

  vxt::Ipv4Endpoint peer;
  vxt::make_ipv4_endpoint(0x7F000002, 3000, &peer);
  const std::uint32_t current_block = size >= 2 ? vxt::get_be16(packet.get()) : 0;
  const vxt::SessionDatagram kind =
      vxt::classify_session_datagram(length, packet.get(), peer, peer, current_block);
  const bool is_ack = size >= 4 && packet[0] == 0 && packet[1] == 4;
  switch (kind) {
    case vxt::SessionDatagram::nothing:
      if (size != 0) std::abort();
      break;
    case vxt::SessionDatagram::foreign_source:
      std::abort();  // the source is the peer's own
    case vxt::SessionDatagram::not_an_ack:
      if (is_ack || size == 0) std::abort();
      break;
    case vxt::SessionDatagram::other_block_ack:
    case vxt::SessionDatagram::expected_ack:
      if (!is_ack) std::abort();
      if ((vxt::get_be16(packet.get() + 2) == current_block) !=
          (kind == vxt::SessionDatagram::expected_ack)) {
        std::abort();
      }
      break;
  }
  return 0;
}
