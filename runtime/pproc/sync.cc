#include "runtime/pproc/sync.h"

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>

#include "runtime/error/exception.h"

namespace qo::pproc {

namespace {

const char kLockFailed[] =
    "mutex lock attempt failed... this couldn't have happened";
const char kUnlockFailed[] =
    "mutex unlock attempt failed... this couldn't have happened";

void init_recursive(pthread_mutexattr_t* attr, pthread_mutex_t* mutex) {
  pthread_mutexattr_init(attr);
  pthread_mutexattr_settype(attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, attr);
}

void lock_or_throw(pthread_mutex_t* mutex) {
  if (pthread_mutex_lock(mutex) != 0) throw qo::exception_t(std::string(kLockFailed));
}

void unlock_or_throw(pthread_mutex_t* mutex) {
  if (pthread_mutex_unlock(mutex) != 0) {
    throw qo::exception_t(std::string(kUnlockFailed));
  }
}

timespec deadline_from_now(int ms) {
  timeval now;
  gettimeofday(&now, nullptr);
  return deadline_after(now, ms);
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

void mutex_t::lock() { lock_or_throw(&impl_->mutex); }

bool mutex_t::try_lock() {
  int rc = pthread_mutex_trylock(&impl_->mutex);
  if (rc == 0) return true;
  if (rc == EBUSY) return false;
  throw qo::exception_t(std::string(kLockFailed));
}

void mutex_t::unlock() { unlock_or_throw(&impl_->mutex); }

// event_t

struct event_t::impl {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool signaled = false;
  bool manual_reset = false;
  bool cancelled = false;
};

event_t::event_t(bool manual_reset) : impl_(new impl) {
  pthread_mutex_init(&impl_->mutex, nullptr);
  pthread_cond_init(&impl_->cond, nullptr);
  impl_->manual_reset = manual_reset;
}

event_t::~event_t() {
  pthread_cond_destroy(&impl_->cond);
  pthread_mutex_destroy(&impl_->mutex);
}

void event_t::set() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->signaled = true;
  if (impl_->manual_reset) {
    pthread_cond_broadcast(&impl_->cond);
  } else {
    pthread_cond_signal(&impl_->cond);
  }
  pthread_mutex_unlock(&impl_->mutex);
}

void event_t::reset() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->signaled = false;
  pthread_mutex_unlock(&impl_->mutex);
}

void event_t::cancel() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->cancelled = true;
  // Every waiter is woken so that the stopping thread's wait is among them.
  pthread_cond_broadcast(&impl_->cond);
  pthread_mutex_unlock(&impl_->mutex);
}

void event_t::set_cancelled(bool cancelled) {
  pthread_mutex_lock(&impl_->mutex);
  impl_->cancelled = cancelled;
  pthread_mutex_unlock(&impl_->mutex);
}

bool event_t::wait(int ms) {
  pthread_mutex_lock(&impl_->mutex);
  timespec deadline{};
  if (ms != -1) deadline = deadline_from_now(ms);
  for (;;) {
    if (impl_->cancelled) {
      pthread_mutex_unlock(&impl_->mutex);
      throw thread_stop_exception_t();
    }
    if (impl_->signaled) {
      if (!impl_->manual_reset) impl_->signaled = false;
      pthread_mutex_unlock(&impl_->mutex);
      return true;
    }
    int rc = ms == -1
                 ? pthread_cond_wait(&impl_->cond, &impl_->mutex)
                 : pthread_cond_timedwait(&impl_->cond, &impl_->mutex,
                                          &deadline);
    if (rc == ETIMEDOUT && !impl_->signaled && !impl_->cancelled) {
      pthread_mutex_unlock(&impl_->mutex);
      return false;
    }
  }
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

void cond_mutex_t::lock() { lock_or_throw(&impl_->mutex); }

void cond_mutex_t::unlock() { unlock_or_throw(&impl_->mutex); }

pthread_mutex_t* cond_mutex_t::native() { return &impl_->mutex; }

// condition_t

struct condition_t::impl {
  pthread_cond_t cond;
  pthread_condattr_t attr;
  cond_mutex_t* mutex;
};

condition_t::condition_t(cond_mutex_t& mutex) : impl_(new impl) {
  pthread_condattr_init(&impl_->attr);
  pthread_cond_init(&impl_->cond, &impl_->attr);
  impl_->mutex = &mutex;
}

condition_t::~condition_t() {
  pthread_cond_destroy(&impl_->cond);
  pthread_condattr_destroy(&impl_->attr);
}

int condition_t::wait(int ms) {
  if (ms == -1) return pthread_cond_wait(&impl_->cond, impl_->mutex->native());
  timespec deadline = deadline_from_now(ms);
  return pthread_cond_timedwait(&impl_->cond, impl_->mutex->native(),
                                &deadline);
}

void condition_t::signal() { pthread_cond_signal(&impl_->cond); }

void condition_t::broadcast() { pthread_cond_broadcast(&impl_->cond); }

// semaphore_t

struct semaphore_t::impl {
  sem_t sem;
};

semaphore_t::semaphore_t() : impl_(new impl) { sem_init(&impl_->sem, 0, 1); }

semaphore_t::~semaphore_t() { sem_destroy(&impl_->sem); }

bool semaphore_t::try_acquire() { return sem_trywait(&impl_->sem) == 0; }

void semaphore_t::release() { sem_post(&impl_->sem); }

}  // namespace qo::pproc
