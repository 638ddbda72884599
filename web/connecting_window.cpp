#include "web/connecting_window.h"

#include <cstdio>

#include "core/center_window.h"
#include "core/report_failure.h"
#include "core/session_state.h"
#include "platform/process.h"

namespace vxt {

int connecting_window_event(Window* window, const Event& event, void (*start_search)(Window*)) {
  switch (event.kind) {
    case Event::open: {
      char caption[80];
      std::snprintf(caption, sizeof caption, "Connecting with VXT@%s", session.device_label);
      set_caption(window, caption);
      center_window(window);
      if (start_search != nullptr) start_search(window);
      set_progress_range(window, connecting_progress_bar, 100);
      return 1;
    }
    case Event::command:
      if (event.id == command_ok) {
        end_modal(window, 1);
        return 1;
      }
      if (event.id == command_cancel) {
        destroy_window(window);
        // The message follows the mode alone, whatever the window was waiting for.
        report_failure(session.mode == 1 ? "Upgrade Failed: User Abort"
                                         : "Recovery Failed: Cannot find the specified device!");
        end_process(0);
      }
      return 0;
    case Event::close:
    case Event::timer:
      return 0;
  }
  return 0;
}

int connecting_window_proc(Window* window, const Event& event) {
  return connecting_window_event(window, event, nullptr);
}

}  // namespace vxt
