#include "platform/process.h"

#include <unistd.h>

#include <cstdio>

#include "platform/frontend.h"

namespace vxt {

void end_process(int status) {
  frontend::process_ending(status);
  std::fflush(nullptr);
  // No destructors and no waiting for other threads: they may be blocked on the network.
  _exit(status);
}

}  // namespace vxt
