// The device search: a worker thread sends one search request for `recovery_serial` while the
// connecting window (dialog 105) runs modally on the main thread, then gives the window OK
// (a device answered) or Cancel (none did).
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace vxt {

constexpr const char* search_failure_text = "Recovery Failed: Cannot find the specified device!";

// The bar position the 100 ms tick last set: 1, 2, ..., 100, 0, 1, ... Main thread only.
extern std::int32_t search_progress;

// The worker's routine; `window` is the connecting window. Returns 1.
int search_worker(void* window);

// The tick's handler, on the window's own thread.
void search_tick(Window* window);

// Starts search_worker on a thread of its own with the window; the connecting window calls it
// while it opens for the search.
void start_search_worker(Window* window);

}  // namespace vxt
