#include "recovery/recovery_path.h"

#include "core/session_state.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/window.h"
#include "recovery/device_search.h"
#include "recovery/recovery_request.h"
#include "recovery/recovery_socket.h"
#include "tftp/tftp_listener.h"
#include "web/connecting_window.h"

namespace vxt {
namespace {

// The connecting window with the search: the worker starts while the window opens, and the
// worker's ticks reach search_tick on this thread.
int search_window_proc(Window* window, const Event& event) {
  if (event.kind == Event::timer) {
    search_tick(window);
    return 1;
  }
  return connecting_window_event(window, event, start_search_worker);
}

}  // namespace

int run_device_search() { return run_modal(connecting_dialog, search_window_proc); }

void send_start_request(std::uint16_t tftp_port) {
  const RecoveryRequest request =
      make_start_request(session.recovery_serial, tftp_port, session.tftp_file_name);
  recovery_exchange(request, session.recovery_reply, session.local_address);
}

void start_recovery_transfer() {
  const std::uint16_t port = start_tftp_listener(session.local_address, recovery_group_text);
  if (port == 0) {
    // Never idle without a listener, nor name port 0 to the device.
    close_recovery_socket();
    end_process(0);
  }
  send_start_request(port);
  for (;;) sleep_ms(10);
}

}  // namespace vxt
