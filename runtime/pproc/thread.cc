#include "runtime/pproc/thread.h"

#include <pthread.h>

#include <atomic>

namespace qo::pproc {

struct thread_t::impl {
  std::atomic<bool> running{false};
  pthread_t handle{};
  mutex_t lock;
  event_t* current_wait = nullptr;  // guarded by lock
  bool stop_requested = false;      // guarded by lock
  event_t own_event{true};
};

thread_t::thread_t() : impl_(new impl) {}

thread_t::~thread_t() { stop(); }

void thread_t::start() {
  if (impl_->running) return;
  impl_->running = true;
  {
    guard_t guard(impl_->lock);
    impl_->stop_requested = false;
  }
  pthread_create(&impl_->handle, nullptr, &thread_t::entry, this);
}

void thread_t::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  {
    guard_t guard(impl_->lock);
    impl_->stop_requested = true;
    if (impl_->current_wait != nullptr) impl_->current_wait->cancel();
  }
  pthread_join(impl_->handle, nullptr);
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
