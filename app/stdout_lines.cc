#include "app/stdout_lines.h"

#include <atomic>
#include <cerrno>
#include <iostream>

#include "runtime/error/exception.h"
#include "runtime/pproc/plain_mutex.h"

namespace {

qo::pproc::plain_mutex_t failure_mu;
std::string failure GUARDED_BY(failure_mu);
std::atomic<bool> to_stderr{false};

}  // namespace

void SendLinesToStandardError() { to_stderr = true; }

void PrintLine(const std::string& line) {
  if (to_stderr) {
    std::cerr << line << '\n';
    std::cerr.flush();
    return;
  }
  errno = 0;
  std::cout << line << '\n';
  std::cout.flush();
  if (std::cout) return;
  const std::string why =
      errno != 0 ? qo::pos::last_error_text() : std::string("write error");
  std::cout.clear();
  qo::pproc::plain_lock_t lock(failure_mu);
  if (failure.empty()) failure = why;
}

std::string StdoutFailure() {
  qo::pproc::plain_lock_t lock(failure_mu);
  return failure;
}
