#include "web/request_runner.h"

#include "core/report_failure.h"
#include "core/session_state.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "web/connecting_window.h"
#include "web/http_exchange.h"
#include "web/password_window.h"
#include "web/request_handover.h"

namespace vxt {

int web_worker(void* argument) {
  const WebRequest& r = *static_cast<const WebRequest*>(argument);
  return http_get(r.local_address, r.local_port_base, r.device_address, r.device_port, r.path,
                  r.buffer, r.capacity);
}

int run_web_request(std::uint32_t local_address, std::uint16_t local_port_base,
                    std::uint32_t device_address, std::uint16_t device_port, const char* path,
                    char* buffer, std::int32_t capacity) {
  // The bar moves on across the attempts of one call.
  int progress_position = 0;
  int poll_count = 0;
  int silent_retries = 0;
  end_running_exchange();
  for (;;) {
    // Lives in this frame until the process ends or this call returns, which is after the
    // worker has ended; a Cancel ends the process from inside the loop below.
    WebRequest request{local_address, local_port_base, device_address, device_port,
                       path,          buffer,          capacity};
    Window* window = create_modeless(connecting_dialog, connecting_window_proc);
    show_window(window);
    Thread* worker = start_thread(web_worker, &request);
    if (worker == nullptr) {
      // Without a worker there is no exchange to wait for; the device was not reached.
      destroy_window(window);
      report_failure("Upgrade Failed: Can't connect to VXT");
      end_process(0);
    }
    exchange_worker_started(worker);
    int result = 0;
    while (!thread_ended(worker, &result)) {
      poll_event(window);
      sleep_ms(1);
      if (++poll_count == 10) {
        set_progress_position(window, connecting_progress_bar, progress_position);
        if (++progress_position > 100) progress_position = 0;
        poll_count = 0;
      }
    }
    destroy_window(window);
    exchange_worker_ended(worker);
    if (exchange_was_ended_by_later_call(worker)) return result > 0 ? result : 0;
    if (result >= 0) return result;

    // Refused. A password with an unused nonce means the device only renewed its nonce: try
    // the same credentials once more without asking.
    const DigestState& digest = session.digest;
    if (digest.password[0] != '\0' && digest.nonce_count == 0 && silent_retries == 0) {
      silent_retries = 1;
      continue;
    }
    if (run_modal(password_dialog, password_window_proc) != 1) {
      report_failure("Upgrade Failed: User Abort");
      end_process(0);
    }
    silent_retries = 0;
  }
}

}  // namespace vxt
