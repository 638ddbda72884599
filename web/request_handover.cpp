#include "web/request_handover.h"

#include <atomic>

#include "platform/clock.h"

namespace vxt {
namespace {

std::atomic<Thread*> running_worker{nullptr};
std::atomic<Thread*> ended_worker{nullptr};  // the worker whose exchange a later call ended
std::atomic<Socket> running_socket{invalid_socket};

}  // namespace

void exchange_worker_started(Thread* worker) { running_worker.store(worker); }

void exchange_worker_ended(Thread* worker) {
  Thread* expected = worker;
  running_worker.compare_exchange_strong(expected, nullptr);
}

bool exchange_was_ended_by_later_call(Thread* worker) { return ended_worker.load() == worker; }

void publish_exchange_socket(Socket s) { running_socket.store(s); }

bool take_back_exchange_socket(Socket s) {
  Socket expected = s;
  return running_socket.compare_exchange_strong(expected, invalid_socket);
}

void end_running_exchange() {
  Thread* previous = running_worker.load();
  if (previous == nullptr || thread_ended(previous, nullptr)) return;
  ended_worker.store(previous);
  // The worker may still be connecting: its socket is taken whenever it shows up.
  Socket taken = invalid_socket;
  while (!thread_ended(previous, nullptr)) {
    const Socket s = running_socket.exchange(invalid_socket);
    if (s != invalid_socket) {
      socket_shutdown_receive(s);
      taken = s;
    }
    sleep_ms(1);
  }
  if (taken != invalid_socket) socket_close(taken);
}

}  // namespace vxt
