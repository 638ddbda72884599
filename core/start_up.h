// Start-up: prepares the SessionState before the first screen. Runs once, on the main thread.
#pragma once

namespace vxt {

// Ends the process itself (after its message) when the socket layer cannot be started.
void start_up();

}  // namespace vxt
