#include "platform/thread.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace vxt {
namespace {

// Shared with a routine; `written` is a plain field, handed over only by the thread's end.
struct Work {
  std::atomic<bool> may_finish{true};
  int result = 0;
  int written = 0;
};

int do_work(void* argument) {
  auto* work = static_cast<Work*>(argument);
  while (!work->may_finish.load()) sleep_ms(1);
  work->written = 1000 + work->result;
  return work->result;
}

// Bounded only so that a broken thread fails the test instead of hanging it.
bool wait_for_end(Thread* thread, int* result) {
  for (int poll = 0; poll < 60000; ++poll) {
    if (thread_ended(thread, result)) return true;
    sleep_ms(1);
  }
  return false;
}

TEST(Thread, EndIsObservedWhateverTheResult) {
  for (const int expected : {-1, 0, 7}) {
    SCOPED_TRACE(expected);
    Work work;
    work.may_finish = false;
    work.result = expected;
    Thread* thread = start_thread(do_work, &work);
    ASSERT_NE(thread, nullptr);
    int result = 12345;
    EXPECT_FALSE(thread_ended(thread, &result)) << "the routine cannot have returned yet";
    EXPECT_EQ(result, 12345) << "no result before the end";

    work.may_finish = true;
    ASSERT_TRUE(wait_for_end(thread, &result));
    EXPECT_EQ(result, expected);
    EXPECT_EQ(work.written, 1000 + expected) << "the thread's writes are visible after its end";
    // The record stays: asking again gives the same answer.
    result = 12345;
    EXPECT_TRUE(thread_ended(thread, &result));
    EXPECT_EQ(result, expected);
    EXPECT_TRUE(thread_ended(thread, nullptr));
  }
}

TEST(Thread, ManyAtOnce) {
  constexpr int count = 32;
  std::vector<Work> works(count);
  std::vector<Thread*> threads;
  for (int i = 0; i < count; ++i) {
    works[i].result = i;
    threads.push_back(start_thread(do_work, &works[i]));
    ASSERT_NE(threads.back(), nullptr);
  }
  for (int i = 0; i < count; ++i) {
    int result = -1;
    ASSERT_TRUE(wait_for_end(threads[i], &result));
    EXPECT_EQ(result, i);
    EXPECT_EQ(works[i].written, 1000 + i);
  }
}

TEST(Thread, NoRoutineNoThread) { EXPECT_EQ(start_thread(nullptr, nullptr), nullptr); }

}  // namespace
}  // namespace vxt
