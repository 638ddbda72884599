// The one way the wizard talks to the device's web server: http_get on a worker thread behind
// the connecting window, with the silent retry and the password window after a refusal.
#pragma once

#include <cstdint>

namespace vxt {

// The arguments of one http_get, handed to the worker; unchanged while the worker runs.
struct WebRequest {
  std::uint32_t local_address;
  std::uint16_t local_port_base;
  std::uint32_t device_address;
  std::uint16_t device_port;
  const char* path;
  char* buffer;
  std::int32_t capacity;
};

// The worker thread's routine: one http_get with the request's fields; its result is the
// thread's result.
int web_worker(void* request);

// Runs the request on the calling thread's connecting window until the device answers and
// returns the bytes received (0 or more). Does not return when the person cancels either
// window or no connection can be made: the process ends. The calling thread never waits on
// the network; it pumps the connecting window meanwhile.
int run_web_request(std::uint32_t local_address, std::uint16_t local_port_base,
                    std::uint32_t device_address, std::uint16_t device_port, const char* path,
                    char* buffer, std::int32_t capacity);

}  // namespace vxt
