#include "platform/thread.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace vxt {

struct Thread {
  ThreadRoutine routine = nullptr;
  void* argument = nullptr;
  int result = 0;                  // written by the thread before `ended`
  std::atomic<bool> ended{false};  // release on the thread, acquire in thread_ended
  Thread* next_started = nullptr;  // the registry's link
};

namespace {

// Every record ever started, newest first. Records are never freed: callers may ask about a
// thread at any time for the rest of the process, and a detached thread may still be writing
// its record while the process ends. The list keeps them reachable (no leak reports).
std::atomic<Thread*> started_threads{nullptr};

void remember(Thread* thread) {
  Thread* head = started_threads.load(std::memory_order_relaxed);
  do {
    thread->next_started = head;
  } while (!started_threads.compare_exchange_weak(head, thread, std::memory_order_release,
                                                  std::memory_order_relaxed));
}

void run(Thread* thread) {
  thread->result = thread->routine(thread->argument);
  thread->ended.store(true, std::memory_order_release);
}

}  // namespace

Thread* start_thread(ThreadRoutine routine, void* argument) {
  if (routine == nullptr) return nullptr;
  Thread* thread = new Thread;
  thread->routine = routine;
  thread->argument = argument;
  try {
    std::thread(run, thread).detach();
  } catch (const std::system_error&) {
    delete thread;  // never started, so nobody else holds it
    return nullptr;
  }
  remember(thread);
  return thread;
}

bool thread_ended(Thread* thread, int* result) {
  if (thread == nullptr) return false;
  if (!thread->ended.load(std::memory_order_acquire)) return false;
  if (result != nullptr) *result = thread->result;
  return true;
}

}  // namespace vxt
