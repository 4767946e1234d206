// Synchronisation primitives over POSIX threads: a recursive mutex with its
// scoped guard, an event that a stopping thread can cancel, a condition with
// its own mutex and guard, and a semaphore. Each keeps its OS object behind a
// private record. All mutexes are recursive, so code holding one may call
// code that takes it again on the same thread. Failures of the POSIX lock
// calls, which ordinary use never produces, throw qo::exception_t.
//
// The mutexes are capabilities for clang's thread-safety analysis: mark the
// fields a mutex guards with GUARDED_BY and take it with a guard. The
// analysis does not model re-entry; code that deliberately takes a mutex it
// already holds must say why where it does so.
#ifndef QO_RUNTIME_PPROC_SYNC_H_
#define QO_RUNTIME_PPROC_SYNC_H_

#include <pthread.h>
#include <sys/time.h>

#include <ctime>
#include <memory>
#include <string>

#include "runtime/pproc/thread_annotations.h"

namespace qo::pproc {

class CAPABILITY("mutex") mutex_t {
 public:
  explicit mutex_t(const std::string& name = std::string());
  ~mutex_t();
  mutex_t(const mutex_t&) = delete;
  mutex_t& operator=(const mutex_t&) = delete;

  void lock() ACQUIRE();
  // True when acquired (also when this thread already holds it), false when
  // another thread holds it.
  bool try_lock() TRY_ACQUIRE(true);
  void unlock() RELEASE();

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

// Holds a mutex_t for the guard's lifetime.
class SCOPED_CAPABILITY guard_t {
 public:
  explicit guard_t(mutex_t& mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.lock();
  }
  // The guard locked the mutex on this thread, so unlocking cannot fail.
  ~guard_t() RELEASE() { mutex_.unlock(); }
  guard_t(const guard_t&) = delete;
  guard_t& operator=(const guard_t&) = delete;

 private:
  mutex_t& mutex_;
};

class condition_t;

// The mutex a condition_t waits with.
class CAPABILITY("mutex") cond_mutex_t {
 public:
  cond_mutex_t();
  ~cond_mutex_t();
  cond_mutex_t(const cond_mutex_t&) = delete;
  cond_mutex_t& operator=(const cond_mutex_t&) = delete;

  void lock() ACQUIRE();
  void unlock() RELEASE();

 private:
  friend class condition_t;
  pthread_mutex_t* native();

  struct impl;
  std::unique_ptr<impl> impl_;
};

// Holds a cond_mutex_t for the guard's lifetime.
class SCOPED_CAPABILITY cond_guard_t {
 public:
  explicit cond_guard_t(cond_mutex_t& mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.lock();
  }
  ~cond_guard_t() RELEASE() { mutex_.unlock(); }
  cond_guard_t(const cond_guard_t&) = delete;
  cond_guard_t& operator=(const cond_guard_t&) = delete;

 private:
  cond_mutex_t& mutex_;
};

class condition_t {
 public:
  // Waits with `mutex`, which must outlive the condition. The caller holds
  // it exactly once while waiting: a wait releases one level of it only.
  explicit condition_t(cond_mutex_t& mutex);
  ~condition_t();
  condition_t(const condition_t&) = delete;
  condition_t& operator=(const condition_t&) = delete;

  // The caller holds the mutex (unchecked by the analysis, which cannot tell
  // that the caller's mutex is this one). Returns 0 when woken (possibly
  // spuriously), or ETIMEDOUT when `ms` milliseconds (-1: no limit, any
  // other negative time is already due) ran out.
  int wait(int ms);
  // The same with an absolute deadline on the time of day.
  int wait_until(const timespec& deadline);
  void signal();
  void broadcast();

 private:
  cond_mutex_t& mutex_;
  struct impl;
  std::unique_ptr<impl> impl_;
};

class thread_t;

// A signalled/unsignalled flag threads wait on. An auto-reset event releases
// one wait per set and is cleared by it; a manual-reset event stays set until
// reset. A cancelled event makes its wait throw thread_stop_exception_t, and
// cancellation wins over a pending signal.
class event_t {
 public:
  explicit event_t(bool manual_reset);
  ~event_t();
  event_t(const event_t&) = delete;
  event_t& operator=(const event_t&) = delete;

  void set();
  void reset();
  // True when signalled, false when `ms` milliseconds ran out (-1: no limit).
  bool wait(int ms);

 private:
  friend class thread_t;
  void cancel();
  void set_cancelled(bool cancelled);

  struct impl;
  std::unique_ptr<impl> impl_;
};

// A process-private unnamed semaphore with initial value 1.
class semaphore_t {
 public:
  semaphore_t();
  ~semaphore_t();
  semaphore_t(const semaphore_t&) = delete;
  semaphore_t& operator=(const semaphore_t&) = delete;

  bool try_acquire();
  void release();

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

// The absolute deadline `ms` milliseconds after `now`, at millisecond
// resolution: the sub-millisecond part of `now` is dropped.
timespec deadline_after(const timeval& now, int ms);

}  // namespace qo::pproc

#endif  // QO_RUNTIME_PPROC_SYNC_H_
