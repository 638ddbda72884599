#include "tftp/transfer_window.h"

#include "core/center_window.h"
#include "core/report_failure.h"
#include "platform/process.h"

namespace vxt {

int transfer_window_proc(Window* window, const Event& event) {
  if (event.kind == Event::open) {
    center_window(window);
    return 1;
  }
  if (event.kind == Event::command && event.id == command_cancel) {
    destroy_window(window);
    report_failure("Upgrade Failed: User Abort");
    end_process(0);
  }
  return 0;
}

}  // namespace vxt
