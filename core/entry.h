// The entry function: start-up and the strictly forward chain of screens on the main thread.
#pragma once

namespace vxt {

// Returns 0 when the chain ends on this thread; most endings leave through end_process.
int wizard_entry();

}  // namespace vxt
