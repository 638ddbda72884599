// Keeps two request calls apart: the check after the upload may begin while the upgrade
// command's exchange still runs (a device that holds that connection open). The later call
// ends the earlier exchange, its socket shut down so that its receive returns, and waits for
// that worker's end before its own attempt, so http_buffer, device_info and digest are never
// used by two exchanges at once. It never waits on the device.
#pragma once

#include "platform/socket.h"
#include "platform/thread.h"

namespace vxt {

// The request runner: its worker has started, and it has seen that worker end.
void exchange_worker_started(Thread* worker);
void exchange_worker_ended(Thread* worker);
// True when a later call ended this worker's exchange: its call returns at once, without a
// retry or a prompt, since the later call owns the shared state now.
bool exchange_was_ended_by_later_call(Thread* worker);

// The exchange itself: its connected socket, published so that a later call can shut it
// down; and taken back at the end. False when a later call took it: that call closes it once
// this worker has ended, so the number is never reused while anyone still holds it.
void publish_exchange_socket(Socket s);
bool take_back_exchange_socket(Socket s);

// At the start of every call: ends an exchange that is still running and waits for its
// worker. Returns at once when none runs.
void end_running_exchange();

}  // namespace vxt
