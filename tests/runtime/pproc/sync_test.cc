#include "runtime/pproc/sync.h"

#include <errno.h>

#include <atomic>
#include <thread>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace qo::pproc {
namespace {

// A bound for loaded machines on waits that are expected to end early.
constexpr int kPatienceMs = 60000;

TEST(DeadlineTest, CarriesIntoTheNextSecond) {
  struct Case {
    long sec, usec;
    int ms;
    long want_sec, want_nsec;
  };
  const Case cases[] = {
      {100, 999999, 1, 101, 0},
      {100, 999999, 0, 100, 999000000},
      {100, 0, 0, 100, 0},
      {100, 600000, 2500, 103, 100000000},
      {100, 1999, 998, 100, 999000000},
      {100, 1999, 999, 101, 0},
  };
  for (const Case& c : cases) {
    timeval now{c.sec, c.usec};
    timespec d = deadline_after(now, c.ms);
    EXPECT_EQ(c.want_sec, d.tv_sec) << c.usec << "+" << c.ms;
    EXPECT_EQ(c.want_nsec, d.tv_nsec) << c.usec << "+" << c.ms;
  }
}

TEST(EventTest, AutoResetReleasesOneWait) {
  event_t event(false);
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_FALSE(event.wait(20));
}

TEST(EventTest, ANegativeTimeIsAlreadyDue) {
  for (int ms : {-2, -999, -5000, -2147483647}) {
    event_t event(false);
    EXPECT_FALSE(event.wait(ms)) << ms;
    event.set();
    EXPECT_TRUE(event.wait(ms)) << ms;
  }
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  event_t event(true);
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0));
  event.reset();
  EXPECT_FALSE(event.wait(20));
}

TEST(EventTest, SetFromAnotherThreadWakesTheWait) {
  event_t event(false);
  std::thread setter([&] { event.set(); });
  EXPECT_TRUE(event.wait(-1));
  setter.join();
}

TEST(EventTest, ManualResetWakesEveryWaiter) {
  event_t event(true);
  std::atomic<int> woken{0};
  std::thread a([&] { woken += event.wait(kPatienceMs); });
  std::thread b([&] { woken += event.wait(kPatienceMs); });
  event.set();
  a.join();
  b.join();
  EXPECT_EQ(2, woken);
}

TEST(MutexTest, TryLockIsRecursiveForTheOwnerOnly) {
  mutex_t mutex("m");
  ASSERT_TRUE(mutex.try_lock());
  EXPECT_TRUE(mutex.try_lock());
  bool other = true;
  std::thread t([&] { other = mutex.try_lock(); });
  t.join();
  EXPECT_FALSE(other);
  mutex.unlock();
  mutex.unlock();
  std::thread u([&] {
    other = mutex.try_lock();
    if (other) mutex.unlock();
  });
  u.join();
  EXPECT_TRUE(other);
}

TEST(MutexTest, GuardNestsOnOneThread) {
  mutex_t mutex;
  {
    guard_t outer(mutex);
    guard_t inner(mutex);
  }
  EXPECT_TRUE(mutex.try_lock());
  mutex.unlock();
}

TEST(MutexTest, UnlockingAnUnheldMutexThrows) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer reports the deliberate misuse";
#endif
  mutex_t mutex;
  EXPECT_THROW(mutex.unlock(), qo::exception_t);
}

TEST(ConditionTest, TimesOutAndWakes) {
  cond_mutex_t mutex;
  condition_t condition(mutex);
  mutex.lock();
  EXPECT_EQ(ETIMEDOUT, condition.wait(20));
  bool ready = false;
  std::thread t([&] {
    mutex.lock();
    ready = true;
    condition.signal();
    mutex.unlock();
  });
  while (!ready) ASSERT_EQ(0, condition.wait(kPatienceMs));
  mutex.unlock();
  t.join();
}

TEST(ConditionTest, WaitUntilAPassedDeadlineTimesOut) {
  cond_mutex_t mutex;
  condition_t condition(mutex);
  cond_guard_t guard(mutex);
  timeval now;
  gettimeofday(&now, nullptr);
  EXPECT_EQ(ETIMEDOUT, condition.wait_until(deadline_after(now, 0)));
  EXPECT_EQ(ETIMEDOUT, condition.wait(-3));
}

TEST(SemaphoreTest, StartsAtOne) {
  semaphore_t semaphore;
  EXPECT_TRUE(semaphore.try_acquire());
  EXPECT_FALSE(semaphore.try_acquire());
  semaphore.release();
  EXPECT_TRUE(semaphore.try_acquire());
}

}  // namespace
}  // namespace qo::pproc
