#include "runtime/pproc/thread.h"

#include <errno.h>
#include <pthread.h>

#include <atomic>

#include "runtime/pproc/thread_annotations.h"

namespace qo::pproc {

struct thread_t::impl {
  std::atomic<bool> running{false};
  pthread_t handle{};
  mutex_t lock;
  event_t* current_wait GUARDED_BY(lock) = nullptr;
  bool stop_requested GUARDED_BY(lock) = false;
  event_t own_event{true};
};

thread_t::thread_t() : impl_(new impl) {}

thread_t::~thread_t() { stop(); }

void thread_t::start() {
  if (impl_->running) return;
  {
    guard_t guard(impl_->lock);
    impl_->stop_requested = false;
  }
  // Running before the body can ask (check_stop); not running again when no
  // thread was created, so that stop never joins a handle that was not set.
  impl_->running = true;
  int rc = pthread_create(&impl_->handle, nullptr, &thread_t::entry, this);
  if (rc != 0) {
    impl_->running = false;
    errno = rc;
    throw qo::pos::exception_t("thread_t::start: cannot create the thread");
  }
}

void thread_t::stop() {
  if (!impl_->running) return;
  {
    guard_t guard(impl_->lock);
    impl_->stop_requested = true;
    if (impl_->current_wait != nullptr) impl_->current_wait->cancel();
  }
  // Cleared after the request is recorded: a body that has seen the stop in
  // check_stop finds every later wait cancelled as well.
  impl_->running = false;
  int rc = pthread_join(impl_->handle, nullptr);
  if (rc != 0) {
    // Only a thread stopping itself gets here (EDEADLK).
    errno = rc;
    throw qo::pos::exception_t("thread_t::stop: cannot join the thread");
  }
}

bool thread_t::sleep(int ms) { return wait(impl_->own_event, ms); }

bool thread_t::wait(event_t& event, int ms) {
  {
    guard_t guard(impl_->lock);
    impl_->current_wait = &event;
    // Clears a stale cancellation from an earlier wait, and makes a stop
    // requested before this wait take effect at once.
    event.set_cancelled(impl_->stop_requested);
  }
  bool signaled;
  try {
    signaled = event.wait(ms);
  } catch (...) {
    guard_t guard(impl_->lock);
    impl_->current_wait = nullptr;
    throw;
  }
  guard_t guard(impl_->lock);
  impl_->current_wait = nullptr;
  return signaled;
}

void thread_t::check_stop() {
  if (!impl_->running) throw thread_stop_exception_t();
}

void* thread_t::entry(void* self) {
  if (self != nullptr) {
    try {
      static_cast<thread_t*>(self)->run();
    } catch (...) {
      // Whatever leaves the body, a stop included, ends the thread quietly.
    }
  }
  return nullptr;
}

}  // namespace qo::pproc
