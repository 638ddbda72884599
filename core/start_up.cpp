#include "core/start_up.h"

#include <cstdlib>

#include "core/random.h"
#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/host_addresses.h"
#include "platform/process.h"
#include "platform/resource.h"
#include "platform/socket.h"

namespace vxt {

void start_up() {
  if (!socket_layer_start()) {
    report_failure("Upgrade Failed: Winsock init error");
    end_process(0);
  }

  // The host name resolves to a loopback alias on Linux, so the interfaces say who we are.
  for (std::uint32_t& a : session.local_addresses) a = 0;
  list_host_addresses(session.local_addresses, max_local_addresses);

  session.digest = DigestState{};
  session.local_address = session.local_addresses[0];
  seed_random(clock_ms());
  // The window model needs no common controls loaded.

  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
  if (!find_resource(firmware_resource_type, firmware_resource_id, &data, &size) ||
      size < image_header_size) {
    std::abort();  // the build embeds an image of at least a full header; never reached
  }
  load_firmware_image(&session.image, data, size);

  const ProductEntry& product = identify_product(session.image.header);
  copy_text(session.model_name, product.display_name);
  if (product.device_kind == 1) session.device_kind = 1;
}

}  // namespace vxt
