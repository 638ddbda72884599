// Showing a failure: a task-modal message window without owner. The caller ends the process.
#pragma once

namespace vxt {

constexpr const char* failure_title = "VXT Firwmare Upgrade Error";

// Returns when the person has dismissed the message. Any thread.
void report_failure(const char* text);

}  // namespace vxt
