// Orderly ends for interrupted runs. SIGINT, SIGTERM and SIGHUP are blocked
// in every thread of the process and received by one thread of their own,
// which, on the first of them,
//  1. runs a hook the caller set (to erase a progress line),
//  2. takes CTempRegistry's lock for good and removes every registered file:
//     the unfinished temporaries (a partial log file, compressed entries
//     waiting for the archive, the temporary archive) and the folder's lock
//     file; complete log files and any older archive stay,
//  3. says so in one line on standard error, e.g. "krtlogs: interrupted
//     (SIGTERM): removed the unfinished files; 3 complete log files kept in
//     the folder out",
//  4. ends the process at once with status 128 + the signal number (_exit:
//     no destructors, no waiting for the ORB or for workers).
// Lines a caller prints to standard output must be flushed as they are
// printed, since the end does not flush them.
//
// A run that writes no file (-follow) asks for a quiet end instead
// (SetQuietEnd): its hook runs, and the process ends with status 0, without
// a message.
//
// Usage, in main:
//   BlockInterruptSignals();      // first, before any thread starts
//   CInterruptWatcher watcher;    // then, for the rest of the run
//   watcher.SetBeforeMessage([] { /* erase the progress line */ });
#ifndef KRTLOGS_APP_SIGNALS_H_
#define KRTLOGS_APP_SIGNALS_H_

#include <functional>
#include <string>
#include <thread>

#include "app/temp_registry.h"
#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread. Threads started
// afterwards inherit the mask, so call it before the first thread starts
// (the ORB starts several). Programs this process would start inherit it
// too and must unblock them. Throws qo::pos::exception_t.
void BlockInterruptSignals();

// The thread that receives the signals; at most one per process, living
// for the rest of the run. Construct and destroy it on one thread.
class CInterruptWatcher {
 public:
  // Throws qo::exception_t when the calling thread does not block the
  // signals (BlockInterruptSignals was not called), and
  // qo::pos::exception_t or std::system_error when the thread cannot start.
  CInterruptWatcher();
  // Stops and joins the thread. A signal that arrives later stays blocked
  // and pending until the process ends, so destroy the watcher last.
  ~CInterruptWatcher();
  CInterruptWatcher(const CInterruptWatcher&) = delete;
  CInterruptWatcher& operator=(const CInterruptWatcher&) = delete;

  // `hook` runs on the watcher's thread before the clean-up. It must not
  // wait for anything another thread may hold (a write(2) is right, a lock
  // a worker takes is not) and should not throw. Thread-safe.
  void SetBeforeMessage(std::function<void()> hook) EXCLUDES(mu_);

  // From now on a signal runs `before_exit` on the watcher's thread (to let
  // the line being written end; it must return within a bounded time) and
  // ends the process with status 0: nothing to clean up, nothing to say.
  // Thread-safe.
  void SetQuietEnd(std::function<void()> before_exit) EXCLUDES(mu_);

 private:
  void Run();
  [[noreturn]] void Interrupt(int signal) EXCLUDES(mu_);

  qo::pproc::plain_mutex_t mu_;
  std::function<void()> hook_ GUARDED_BY(mu_);
  std::function<void()> quiet_end_ GUARDED_BY(mu_);
  int signal_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
};

// The line an interrupted run writes on standard error, without the line
// end.
std::string InterruptMessage(int signal, const InterruptOutcome& outcome);

#endif  // KRTLOGS_APP_SIGNALS_H_
