#include "runtime/pproc/thread.h"

#include <errno.h>
#include <pthread.h>

#include <atomic>
#include <functional>
#include <stdexcept>

#include "gtest/gtest.h"
#include "tests/support/eventually.h"

namespace qo::pproc {
namespace {

using testing_support::Eventually;

// Runs a test-supplied body and records how it ended.
class TestThread : public thread_t {
 public:
  enum Outcome { kNone, kReturned, kStopped, kOther };

  explicit TestThread(std::function<void(TestThread&)> body)
      : body_(std::move(body)) {}
  ~TestThread() override { stop(); }

  using thread_t::check_stop;
  using thread_t::sleep;
  using thread_t::wait;

  // Whether check_stop reports a stop, without leaving the body.
  bool StopSeen() {
    try {
      check_stop();
      return false;
    } catch (thread_stop_exception_t&) {
      return true;
    }
  }

  std::atomic<int> outcome{kNone};
  std::atomic<bool> result{false};

 protected:
  void run() override {
    try {
      body_(*this);
      outcome = kReturned;
    } catch (thread_stop_exception_t&) {
      outcome = kStopped;
    } catch (...) {
      outcome = kOther;
    }
  }

 private:
  std::function<void(TestThread&)> body_;
};

// Makes every thread created with default attributes ask for a stack no
// system can give, so that pthread_create fails, while it lives.
class ThreadCreationFails {
 public:
  ThreadCreationFails() {
    pthread_getattr_default_np(&saved_);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t{1} << 60);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~ThreadCreationFails() {
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }

 private:
  pthread_attr_t saved_;
};

TEST(ThreadTest, SleepWithoutStopTimesOut) {
  for (int ms : {0, 1, 50, -7}) {
    TestThread thread([ms](TestThread& self) { self.result = self.sleep(ms); });
    thread.result = true;
    thread.start();
    ASSERT_TRUE(Eventually([&] { return thread.outcome != TestThread::kNone; }))
        << ms;
    EXPECT_EQ(TestThread::kReturned, thread.outcome) << ms;
    EXPECT_FALSE(thread.result) << ms;
    thread.stop();
  }
}

TEST(ThreadTest, StopEndsASleepWithoutLimit) {
  std::atomic<bool> sleeping{false};
  TestThread thread([&](TestThread& self) {
    sleeping = true;
    self.sleep(-1);
  });
  thread.start();
  ASSERT_TRUE(Eventually([&] { return sleeping.load(); }));
  // Returns only once the sleep has thrown and the thread has been joined.
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
}

TEST(ThreadTest, StopBeforeWaitWinsOverASignalledEvent) {
  event_t event(true);
  event.set();
  TestThread thread([&](TestThread& self) {
    // Spins until the stop is requested, then waits on a signalled event.
    if (!Eventually([&] { return self.StopSeen(); })) return;
    self.result = self.wait(event, -1);
  });
  thread.start();
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
  EXPECT_FALSE(thread.result);
}

TEST(ThreadTest, CheckStopSeesTheRequest) {
  std::atomic<bool> passed_first{false};
  TestThread thread([&](TestThread& self) {
    self.check_stop();
    passed_first = true;
    // Returns (a failure) if no stop shows within the deadline.
    Eventually([&] {
      self.check_stop();
      return false;
    });
  });
  thread.start();
  ASSERT_TRUE(Eventually([&] { return passed_first.load(); }));
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
}

TEST(ThreadTest, WaitReturnsWhenTheEventIsSet) {
  for (int ms : {-1, 60000}) {
    event_t event(false);
    TestThread thread(
        [&](TestThread& self) { self.result = self.wait(event, ms); });
    thread.start();
    event.set();
    ASSERT_TRUE(Eventually([&] { return thread.outcome != TestThread::kNone; }))
        << ms;
    EXPECT_EQ(TestThread::kReturned, thread.outcome) << ms;
    EXPECT_TRUE(thread.result) << ms;
    thread.stop();
  }
}

TEST(ThreadTest, ARestartedThreadWaitsAgain) {
  std::atomic<int> runs{0};
  event_t event(false);
  TestThread thread([&](TestThread& self) {
    if (++runs == 1) self.sleep(-1);
    self.result = self.wait(event, -1);
  });
  thread.start();
  thread.start();  // already running: nothing
  ASSERT_TRUE(Eventually([&] { return runs == 1; }));
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);

  // The cancellation left over from the first run must not end the second:
  // its wait returns for the event, not for a stop.
  thread.outcome = TestThread::kNone;
  thread.start();
  ASSERT_TRUE(Eventually([&] { return runs == 2; }));
  event.set();
  ASSERT_TRUE(Eventually([&] { return thread.outcome != TestThread::kNone; }));
  EXPECT_EQ(TestThread::kReturned, thread.outcome);
  EXPECT_TRUE(thread.result);
  thread.stop();
}

TEST(ThreadTest, AFailedStartLeavesTheThreadIdle) {
  std::atomic<int> runs{0};
  TestThread thread([&](TestThread&) { ++runs; });
  {
    ThreadCreationFails no_threads;
    try {
      thread.start();
      FAIL() << "the thread started";
    } catch (const qo::pos::exception_t& e) {
      EXPECT_EQ(EAGAIN, e.os_error());
      EXPECT_NE(std::string::npos, std::string(e.what()).find("thread"))
          << e.what();
    }
    // Nothing to join: a stop that joined the unset handle would crash or
    // hang here.
    thread.stop();
  }
  EXPECT_EQ(0, runs);
  thread.start();
  ASSERT_TRUE(Eventually([&] { return thread.outcome != TestThread::kNone; }));
  thread.stop();
  EXPECT_EQ(1, runs);
}

// The entry function discards what leaves run(); the process goes on.
class ThrowingThread : public thread_t {
 public:
  ~ThrowingThread() override { stop(); }
  std::atomic<int> runs{0};

 protected:
  void run() override {
    ++runs;
    throw std::runtime_error("body failed");
  }
};

TEST(ThreadTest, AnExceptionLeavingRunEndsOnlyThatThread) {
  ThrowingThread thread;
  thread.start();
  thread.stop();
  thread.start();  // stop() made it idle again
  thread.stop();
  EXPECT_EQ(2, thread.runs);
}

TEST(ThreadTest, StopOfAnIdleThreadDoesNothing) {
  TestThread thread([](TestThread&) {});
  thread.stop();
  thread.stop();
  EXPECT_EQ(TestThread::kNone, thread.outcome);
}

}  // namespace
}  // namespace qo::pproc
