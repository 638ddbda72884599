#include "platform/process.h"

#include <unistd.h>

#include <cstdio>

#include "platform/frontend.h"

namespace vxt {

void end_process(int status) {
  frontend::process_ending(status);
  // Not fflush(nullptr): that would wait for stdin's lock, held by a reader blocked in read().
  std::fflush(stdout);
  std::fflush(stderr);
  // No destructors and no waiting for other threads: they may be blocked on the network.
  _exit(status);
}

}  // namespace vxt
