#include "tools/stop_signals.h"

#include <cerrno>
#include <ctime>

sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

bool WaitForStopSignal(const sigset_t& signals, int timeout_ms) {
  for (;;) {
    int taken;
    if (timeout_ms < 0) {
      taken = sigwaitinfo(&signals, nullptr);
    } else {
      timespec wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
      taken = sigtimedwait(&signals, nullptr, &wait);
    }
    if (taken > 0) return true;
    if (errno == EAGAIN) return false;
    // EINTR: another signal's handler ran; wait again.
  }
}
