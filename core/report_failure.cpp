#include "core/report_failure.h"

#include "platform/window.h"

namespace vxt {

void report_failure(const char* text) { task_modal_message_box(failure_title, text); }

}  // namespace vxt
