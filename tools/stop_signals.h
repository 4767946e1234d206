// How the servers of tools/ stop: SIGINT and SIGTERM are blocked in every
// thread (call BlockStopSignals before the first thread starts) and taken
// by the main thread with WaitForStopSignal, which then shuts down in
// order instead of dying halfway.
#ifndef KRTLOGS_TOOLS_STOP_SIGNALS_H_
#define KRTLOGS_TOOLS_STOP_SIGNALS_H_

#include <signal.h>

// Blocks SIGINT and SIGTERM in the calling thread and every thread it
// starts from now on; returns the set.
sigset_t BlockStopSignals();

// Waits for one of `signals`: true when one came, false when `timeout_ms`
// (-1: no limit) passed first.
bool WaitForStopSignal(const sigset_t& signals, int timeout_ms);

#endif  // KRTLOGS_TOOLS_STOP_SIGNALS_H_
