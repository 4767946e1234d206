#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "gtest/gtest.h"
#include "runtime/pproc/thread.h"

namespace qo::pproc {
namespace {

using Clock = std::chrono::steady_clock;

long MillisSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               Clock::now() - start)
                               .count());
}

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

TEST(ThreadTest, SleepWithoutStopTimesOut) {
  TestThread thread([](TestThread& self) { self.result = self.sleep(100); });
  auto start = Clock::now();
  thread.start();
  while (thread.outcome == TestThread::kNone) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(MillisSince(start), 100);
  EXPECT_EQ(TestThread::kReturned, thread.outcome);
  EXPECT_FALSE(thread.result);
  thread.stop();
}

TEST(ThreadTest, StopWakesASleepAtOnce) {
  std::atomic<bool> sleeping{false};
  TestThread thread([&](TestThread& self) {
    sleeping = true;
    self.sleep(-1);
  });
  thread.start();
  while (!sleeping) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto start = Clock::now();
  thread.stop();
  // A stop that had to wait for a time-out would take forever here.
  EXPECT_LT(MillisSince(start), 5000);
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
}

TEST(ThreadTest, StopBeforeWaitWinsOverASignalledEvent) {
  event_t event(true);
  event.set();
  std::atomic<bool> release{false};
  TestThread thread([&](TestThread& self) {
    while (!release) std::this_thread::yield();
    self.result = self.wait(event, 1000);
  });
  thread.start();
  // stop() blocks in its join, so it runs on a helper while the body spins.
  std::thread stopper([&] { thread.stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  release = true;
  stopper.join();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
}

TEST(ThreadTest, CheckStopSeesTheRequest) {
  std::atomic<bool> release{false};
  TestThread thread([&](TestThread& self) {
    self.check_stop();
    while (!release) std::this_thread::yield();
    self.check_stop();
  });
  thread.start();
  std::thread stopper([&] { thread.stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  release = true;
  stopper.join();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
}

TEST(ThreadTest, WaitReturnsWhenTheEventIsSet) {
  event_t event(false);
  TestThread thread([&](TestThread& self) { self.result = self.wait(event, -1); });
  thread.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  event.set();
  while (thread.outcome == TestThread::kNone) std::this_thread::yield();
  EXPECT_EQ(TestThread::kReturned, thread.outcome);
  EXPECT_TRUE(thread.result);
  thread.stop();
}

TEST(ThreadTest, ARestartedThreadWaitsAgain) {
  std::atomic<int> runs{0};
  TestThread thread([&](TestThread& self) {
    ++runs;
    self.sleep(-1);
  });
  thread.start();
  thread.start();  // already running: nothing
  while (runs < 1) std::this_thread::yield();
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
  thread.outcome = TestThread::kNone;
  // The stale cancellation of the first run must not end the second at once.
  thread.start();
  while (runs < 2) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(TestThread::kNone, thread.outcome);
  thread.stop();
  EXPECT_EQ(TestThread::kStopped, thread.outcome);
  EXPECT_EQ(2, runs);
}

// The entry function discards what leaves run(); the process goes on.
class ThrowingThread : public thread_t {
 public:
  ~ThrowingThread() override { stop(); }
  std::atomic<bool> ran{false};

 protected:
  void run() override {
    ran = true;
    throw std::runtime_error("body failed");
  }
};

TEST(ThreadTest, AnExceptionLeavingRunEndsOnlyThatThread) {
  ThrowingThread thread;
  thread.start();
  thread.stop();
  EXPECT_TRUE(thread.ran);
  thread.start();  // stop() made it idle again
  thread.stop();
}

TEST(ThreadTest, StopOfAnIdleThreadDoesNothing) {
  TestThread thread([](TestThread&) {});
  thread.stop();
  thread.stop();
  EXPECT_EQ(TestThread::kNone, thread.outcome);
}

}  // namespace
}  // namespace qo::pproc
