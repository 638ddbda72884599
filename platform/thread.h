// Threads whose end is observed on its own, independently of their result.
#pragma once

namespace vxt {

struct Thread;  // opaque; stays valid for the whole process

using ThreadRoutine = int (*)(void* argument);

// Starts a detached thread running routine(argument); nullptr when none can be started.
Thread* start_thread(ThreadRoutine routine, void* argument);

// True once the routine has returned; then *result (if not null) holds its result. Everything
// the thread wrote happens-before the caller's reads after a true answer.
bool thread_ended(Thread* thread, int* result);

}  // namespace vxt
