#include "app/follow/follow_output.h"

#include <chrono>
#include <exception>

#include "app/output/file_io.h"

namespace {

// Writes all of `size` bytes; false on the first failure (a closed pipe).
bool WriteWhole(int fd, const char* data, size_t size) {
  try {
    WriteAll(fd, data, size, "standard output");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool CFollowOutput::Write(const std::string& block) {
  {
    qo::pproc::plain_lock_t lock(mu_);
    // One block at a time, so that lines of two units never mix.
    while (writing_ && !closed_ && !sealed_) idle_.wait();
    if (closed_ || sealed_) return false;
    writing_ = true;
  }
  const bool written = WriteWhole(fd_, block.data(), block.size());
  qo::pproc::plain_lock_t lock(mu_);
  writing_ = false;
  if (!written) closed_ = true;
  idle_.broadcast();
  return written;
}

bool CFollowOutput::Closed() const {
  qo::pproc::plain_lock_t lock(mu_);
  return closed_;
}

void CFollowOutput::Seal(int wait_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(wait_ms);
  qo::pproc::plain_lock_t lock(mu_);
  sealed_ = true;
  idle_.broadcast();
  while (writing_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - Clock::now())
                          .count();
    if (left <= 0) return;
    idle_.wait_for(static_cast<int>(left));
  }
}
