// The benchmark's server (scripts/bench): the wizard's own listener wait, transfer and settle
// wait, behind the automation front end, without the web exchanges around them.
//
//   vxt-tftp-bench serve N NAME   serves the embedded image N times on 127.0.0.1:69
//   vxt-tftp-bench wait S         waits S seconds for a read request that never comes
//   vxt-tftp-bench settle S       runs the settle wait for S seconds
//   vxt-tftp-bench floor S        the baseline of the wait: S seconds of bare 1 ms polls of
//                                 the socket, no window, no counter (what any such loop costs)
// vxt-tftp-bench-desktop is the same behind the desktop front end (it needs a display).
// Results go to stderr ("served OK", "cpu_ms N"); stdout carries the front end's events and
// stdin its start line.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/session_state.h"
#include "core/start_up.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/frontend.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"
#include "tftp/transfer_window.h"

namespace {

int argc_ = 0;
char** argv_ = nullptr;

long cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
}

using namespace vxt;

TftpListener listener;

void open_listener() {
  if (open_tftp_listener_socket(&listener, 0x7F000001, nullptr) != ListenerSocketResult::opened ||
      listener.port != 69) {
    std::fprintf(stderr, "cannot bind 127.0.0.1:69\n");
    end_process(1);
  }
  socket_set_non_blocking(listener.socket);
}

int serve(int count, const char* name) {
  open_listener();
  for (int i = 0; i < count; ++i) {
    Window* waiting = create_modeless(waiting_dialog, transfer_window_proc);
    show_window(waiting);
    std::uint32_t peer_address = 0;
    std::uint16_t peer_port = 0;
    wait_for_read_request(&listener, waiting, name, &peer_address, &peer_port);
    destroy_window(waiting);

    TftpSession s{};
    s.socket = listener.socket;
    s.local_address = listener.local_address;
    s.local_port = listener.port;
    s.peer_address = peer_address;
    s.peer_port = peer_port;
    prepare_tftp_session(&s, session.image.size);
    Window* uploading = create_modeless(uploading_dialog, transfer_window_proc);
    show_window(uploading);
    set_progress_range(uploading, transfer_progress_bar, static_cast<int>(s.block_count));
    const bool ok = transfer_image(&s, session.image.data, uploading);
    destroy_window(uploading);
    std::fprintf(stderr, "served %s\n", ok ? "OK" : "FAILED");
  }
  return 0;
}

int wait_routine(void*) {
  Window* waiting = create_modeless(waiting_dialog, transfer_window_proc);
  show_window(waiting);
  set_progress_range(waiting, waiting_progress_bar, 1000);
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  wait_for_read_request(&listener, waiting, "/never-asked-for", &address, &port);
  return 0;
}

int floor_routine(void*) {
  for (;;) {
    Ipv4Endpoint source{0, 0};
    if (socket_receive_from_endpoint(listener.socket, listener.packet, tftp_receive_limit,
                                     &source) <= 0) {
      socket_wait_readable(listener.socket, 1);
    }
  }
}

int settle_routine(void*) {
  Window* uploading = create_modeless(uploading_dialog, transfer_window_proc);
  show_window(uploading);
  settle_wait(uploading);
  return 0;
}

// Runs the routine on a thread of its own for `seconds` and reports the process's CPU time.
int measure(ThreadRoutine routine, int seconds) {
  const long before = cpu_ms();
  start_thread(routine, nullptr);
  sleep_ms(static_cast<unsigned>(seconds) * 1000u);
  std::fprintf(stderr, "cpu_ms %ld\n", cpu_ms() - before);
  return 0;
}

int bench_main(void*) {
  start_up();
  copy_text(session.device_label, "127.0.0.1");
  const std::string mode = argc_ > 1 ? argv_[1] : "";
  int status = 2;
  if (mode == "serve" && argc_ == 4) {
    status = serve(std::atoi(argv_[2]), argv_[3]);
  } else if (mode == "wait" && argc_ == 3) {
    open_listener();
    status = measure(wait_routine, std::atoi(argv_[2]));
  } else if (mode == "floor" && argc_ == 3) {
    open_listener();
    status = measure(floor_routine, std::atoi(argv_[2]));
  } else if (mode == "settle" && argc_ == 3) {
    status = measure(settle_routine, std::atoi(argv_[2]));
  } else {
    std::fprintf(stderr, "usage: vxt-tftp-bench serve N NAME | wait S | settle S | floor S\n");
  }
  std::fflush(stderr);
  end_process(status);
}

void start_bench() { start_thread(bench_main, nullptr); }

}  // namespace

int main(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  return vxt::frontend::run(argc, argv, start_bench);
}
