// Ending the process.
#pragma once

namespace vxt {

// Lets the front end flush its last words, then ends the process at once with `status`,
// without waiting for other threads or running destructors (_exit semantics).
[[noreturn]] void end_process(int status);

}  // namespace vxt
