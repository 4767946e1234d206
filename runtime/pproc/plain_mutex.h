// plain_mutex_t, plain_lock_t and plain_cond_t: a non-recursive mutex, its
// scoped lock and a condition variable over the standard library, annotated
// for clang's -Wthread-safety. They are the one locking vocabulary of the
// tool (app/) and of the zip writer (zip/), whose code never takes a lock
// it already holds; a second lock() on the same thread deadlocks, which the
// analysis catches at compile time. The recursive mutex_t of sync.h stays
// with the ORB layer, whose callbacks re-enter.
//
// Mark every field a mutex guards with GUARDED_BY(mu_), functions that
// expect it held with REQUIRES(mu_), functions that take it with
// EXCLUDES(mu_). Header only, so that the zip writer needs no library of
// the runtime.
#ifndef QO_RUNTIME_PPROC_PLAIN_MUTEX_H_
#define QO_RUNTIME_PPROC_PLAIN_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "runtime/pproc/thread_annotations.h"

namespace qo::pproc {

class CAPABILITY("mutex") plain_mutex_t {
 public:
  plain_mutex_t() = default;
  plain_mutex_t(const plain_mutex_t&) = delete;
  plain_mutex_t& operator=(const plain_mutex_t&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }
  // Tells the analysis that the caller holds the mutex (checked by nothing
  // at run time).
  void assert_held() ASSERT_CAPABILITY(this) {}

 private:
  friend class plain_cond_t;
  std::mutex mu_;
};

// Holds a plain_mutex_t for the lock's lifetime.
class SCOPED_CAPABILITY plain_lock_t {
 public:
  explicit plain_lock_t(plain_mutex_t& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~plain_lock_t() RELEASE() { mu_.unlock(); }
  plain_lock_t(const plain_lock_t&) = delete;
  plain_lock_t& operator=(const plain_lock_t&) = delete;

 private:
  plain_mutex_t& mu_;
};

// Waits with the mutex it was made for, which the caller holds (exactly
// once: the mutex is not recursive). A wait may also end without a signal:
// callers wait in a loop on their condition.
class plain_cond_t {
 public:
  explicit plain_cond_t(plain_mutex_t* mu) : mu_(mu) {}
  plain_cond_t(const plain_cond_t&) = delete;
  plain_cond_t& operator=(const plain_cond_t&) = delete;

  void wait() {
    std::unique_lock<std::mutex> lock(mu_->mu_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // False when `ms` milliseconds passed without a signal.
  bool wait_for(int ms) {
    std::unique_lock<std::mutex> lock(mu_->mu_, std::adopt_lock);
    const bool signalled = cv_.wait_for(lock, std::chrono::milliseconds(ms)) ==
                           std::cv_status::no_timeout;
    lock.release();
    return signalled;
  }
  void signal() { cv_.notify_one(); }
  void broadcast() { cv_.notify_all(); }

 private:
  plain_mutex_t* const mu_;
  std::condition_variable cv_;
};

}  // namespace qo::pproc

#endif  // QO_RUNTIME_PPROC_PLAIN_MUTEX_H_
