#include "recovery/device_search.h"

#include "core/report_failure.h"
#include "core/session_state.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "recovery/recovery_request.h"
#include "recovery/recovery_socket.h"

namespace vxt {
namespace {

constexpr int connecting_bar = 1010;
constexpr int tick_period_ms = 100;

}  // namespace

std::int32_t search_progress = 0;

int search_worker(void* argument) {
  Window* window = static_cast<Window*>(argument);
  const RecoveryRequest request = make_search_request(session.recovery_serial);
  start_timer(window, tick_period_ms);
  const bool answered = recovery_exchange(request, session.recovery_reply, session.local_address);
  stop_timer(window);
  // Synchronous: the reply is complete before the main thread can act on OK. A window that
  // the person already cancelled ignores it.
  send_command(window, answered ? command_ok : command_cancel);
  return 1;
}

void search_tick(Window* window) {
  ++search_progress;
  if (search_progress > 100) search_progress = 0;
  set_progress_position(window, connecting_bar, search_progress);
}

void start_search_worker(Window* window) {
  // Without a worker nothing would ever end the window; it ends as a search that found
  // nothing does.
  if (start_thread(search_worker, window) != nullptr) return;
  report_failure(search_failure_text);
  end_process(0);
}

}  // namespace vxt
