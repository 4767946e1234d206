#include "runtime/pproc/sync.h"

#include <errno.h>
#include <semaphore.h>

#include "runtime/error/exception.h"

namespace qo::pproc {

namespace {

const char kLockFailed[] =
    "mutex lock attempt failed... this couldn't have happened";
const char kUnlockFailed[] =
    "mutex unlock attempt failed... this couldn't have happened";
const char kWaitFailed[] =
    "condition wait failed... this couldn't have happened";

// Every result of a POSIX lock, unlock or wait call in this library is
// checked here, so that a failure is reported one way: a qo::exception_t
// with `text`.
void check(int rc, const char* text) {
  if (rc != 0) throw qo::exception_t(std::string(text));
}

void init_recursive(pthread_mutexattr_t* attr, pthread_mutex_t* mutex) {
  pthread_mutexattr_init(attr);
  pthread_mutexattr_settype(attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, attr);
}

// A negative time other than "no limit" is already due.
timespec deadline_from_now(int ms) {
  timeval now;
  gettimeofday(&now, nullptr);
  return deadline_after(now, ms < 0 ? 0 : ms);
}

}  // namespace

timespec deadline_after(const timeval& now, int ms) {
  long t = now.tv_usec / 1000 + ms;
  timespec deadline;
  deadline.tv_sec = now.tv_sec + t / 1000;
  deadline.tv_nsec = (t % 1000) * 1000000L;
  return deadline;
}

// mutex_t

struct mutex_t::impl {
  std::string name;
  pthread_mutexattr_t attr;
  pthread_mutex_t mutex;
};

mutex_t::mutex_t(const std::string& name) : impl_(new impl) {
  impl_->name = name;
  init_recursive(&impl_->attr, &impl_->mutex);
}

mutex_t::~mutex_t() {
  pthread_mutex_destroy(&impl_->mutex);
  pthread_mutexattr_destroy(&impl_->attr);
}

void mutex_t::lock() { check(pthread_mutex_lock(&impl_->mutex), kLockFailed); }

bool mutex_t::try_lock() {
  int rc = pthread_mutex_trylock(&impl_->mutex);
  if (rc == EBUSY) return false;
  check(rc, kLockFailed);
  return true;
}

void mutex_t::unlock() {
  check(pthread_mutex_unlock(&impl_->mutex), kUnlockFailed);
}

// cond_mutex_t

struct cond_mutex_t::impl {
  pthread_mutexattr_t attr;
  pthread_mutex_t mutex;
};

cond_mutex_t::cond_mutex_t() : impl_(new impl) {
  init_recursive(&impl_->attr, &impl_->mutex);
}

cond_mutex_t::~cond_mutex_t() {
  pthread_mutex_destroy(&impl_->mutex);
  pthread_mutexattr_destroy(&impl_->attr);
}

void cond_mutex_t::lock() {
  check(pthread_mutex_lock(&impl_->mutex), kLockFailed);
}

void cond_mutex_t::unlock() {
  check(pthread_mutex_unlock(&impl_->mutex), kUnlockFailed);
}

pthread_mutex_t* cond_mutex_t::native() { return &impl_->mutex; }

// condition_t

struct condition_t::impl {
  pthread_cond_t cond;
  pthread_condattr_t attr;
};

condition_t::condition_t(cond_mutex_t& mutex) : mutex_(mutex), impl_(new impl) {
  pthread_condattr_init(&impl_->attr);
  pthread_cond_init(&impl_->cond, &impl_->attr);
}

condition_t::~condition_t() {
  pthread_cond_destroy(&impl_->cond);
  pthread_condattr_destroy(&impl_->attr);
}

int condition_t::wait(int ms) {
  if (ms == -1) return pthread_cond_wait(&impl_->cond, mutex_.native());
  return wait_until(deadline_from_now(ms));
}

int condition_t::wait_until(const timespec& deadline) {
  return pthread_cond_timedwait(&impl_->cond, mutex_.native(), &deadline);
}

void condition_t::signal() { pthread_cond_signal(&impl_->cond); }

void condition_t::broadcast() { pthread_cond_broadcast(&impl_->cond); }

// event_t

struct event_t::impl {
  explicit impl(bool manual) : manual_reset(manual) {}

  cond_mutex_t mutex;
  condition_t cond{mutex};
  const bool manual_reset;
  bool signaled GUARDED_BY(mutex) = false;
  bool cancelled GUARDED_BY(mutex) = false;
};

event_t::event_t(bool manual_reset) : impl_(new impl(manual_reset)) {}

event_t::~event_t() = default;

void event_t::set() {
  cond_guard_t guard(impl_->mutex);
  impl_->signaled = true;
  if (impl_->manual_reset) {
    impl_->cond.broadcast();
  } else {
    impl_->cond.signal();
  }
}

void event_t::reset() {
  cond_guard_t guard(impl_->mutex);
  impl_->signaled = false;
}

void event_t::cancel() {
  cond_guard_t guard(impl_->mutex);
  impl_->cancelled = true;
  // Every waiter is woken so that the stopping thread's wait is among them.
  impl_->cond.broadcast();
}

void event_t::set_cancelled(bool cancelled) {
  cond_guard_t guard(impl_->mutex);
  impl_->cancelled = cancelled;
}

bool event_t::wait(int ms) {
  cond_guard_t guard(impl_->mutex);
  timespec deadline{};
  if (ms != -1) deadline = deadline_from_now(ms);
  for (;;) {
    // Cancellation wins over a pending signal.
    if (impl_->cancelled) throw thread_stop_exception_t();
    if (impl_->signaled) {
      if (!impl_->manual_reset) impl_->signaled = false;
      return true;
    }
    int rc = ms == -1 ? impl_->cond.wait(-1) : impl_->cond.wait_until(deadline);
    if (rc != ETIMEDOUT) {
      check(rc, kWaitFailed);
    } else if (!impl_->signaled && !impl_->cancelled) {
      // A set or cancel that raced with the time-out still counts.
      return false;
    }
  }
}

// semaphore_t

struct semaphore_t::impl {
  sem_t sem;
};

semaphore_t::semaphore_t() : impl_(new impl) { sem_init(&impl_->sem, 0, 1); }

semaphore_t::~semaphore_t() { sem_destroy(&impl_->sem); }

bool semaphore_t::try_acquire() { return sem_trywait(&impl_->sem) == 0; }

void semaphore_t::release() { sem_post(&impl_->sem); }

}  // namespace qo::pproc
