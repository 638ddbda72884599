// The recovery path's steps between the entry screen and the idle main thread.
#pragma once

#include <cstdint>

namespace vxt {

// The connecting window (dialog 105) running the device search, modally. Comes back only with
// 1 (a device answered and its reply is in recovery_reply): Cancel and a search without an
// answer end the process inside the window.
int run_device_search();

// Tells the found device, through the group, the listener's port and the file name. Whether an
// answer comes back makes no difference: the listener is already waiting.
void send_start_request(std::uint16_t tftp_port);

// After the confirm screen: opens the listener as a member of the group, sends the start
// request and idles for good; the listener thread ends the process. When the listener cannot
// join the group (its own "setsockopt" message was shown) the process ends with status 0.
[[noreturn]] void start_recovery_transfer();

}  // namespace vxt
