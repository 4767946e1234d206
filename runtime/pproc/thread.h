// A thread whose body can be stopped from outside, even while it sleeps or
// waits: stop() cancels the event the thread waits on, which makes that wait
// throw thread_stop_exception_t inside the thread; the body lets it leave
// run() (or catches it by name and returns) and stop() joins the thread.
//
// start() and stop() are called by the owner of the object, never by the
// thread itself. A derived class must call stop() in its own destructor:
// the base destructor stops the thread too, but by then the derived part
// that run() uses is already gone.
#ifndef QO_RUNTIME_PPROC_THREAD_H_
#define QO_RUNTIME_PPROC_THREAD_H_

#include <memory>

#include "runtime/error/exception.h"
#include "runtime/pproc/sync.h"

namespace qo::pproc {

class thread_t {
 public:
  thread_t();
  virtual ~thread_t();
  thread_t(const thread_t&) = delete;
  thread_t& operator=(const thread_t&) = delete;

  // Starts the thread unless it is running (a thread whose body returned
  // still counts as running until stop()). Throws qo::pos::exception_t,
  // with the reason the system gave, when no thread could be created; the
  // object then stays idle and may be started again.
  void start();
  // Requests the stop, wakes the thread's current wait and joins it.
  // Throws qo::pos::exception_t when called by the thread itself.
  void stop();

 protected:
  virtual void run() = 0;

  // Waits on the thread's own event: false after `ms` milliseconds (-1: no
  // limit, any other negative time is already due); throws
  // thread_stop_exception_t when the thread is stopped.
  bool sleep(int ms);
  // True when `event` was signalled, false when the time ran out; throws
  // thread_stop_exception_t when the thread is stopped before or during it.
  bool wait(event_t& event, int ms);
  // Throws thread_stop_exception_t when a stop has been requested.
  void check_stop();

 private:
  static void* entry(void* self);

  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace qo::pproc

#endif  // QO_RUNTIME_PPROC_THREAD_H_
