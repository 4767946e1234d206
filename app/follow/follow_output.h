// CFollowOutput is standard output while -follow runs: blocks of whole
// lines, each written at once with write(2), so that a pipe sees every
// block as soon as it is made and never half a line. The first block that
// cannot be written (a closed pipe, a full disk) closes it: later blocks
// are dropped and Closed() is true, which ends the run quietly.
//
// An interrupt ends the process from another thread: Seal waits (a bounded
// time) for the block being written, if any, and lets no further block
// begin, so that the process ends after the last whole line.
//
// One object per run, owned by the following step; any thread. The mutex
// is never held across a write, so a reader that stops reading cannot hold
// up Seal longer than its bound.
#ifndef KRTLOGS_APP_FOLLOW_FOLLOW_OUTPUT_H_
#define KRTLOGS_APP_FOLLOW_FOLLOW_OUTPUT_H_

#include <string>

#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

class CFollowOutput {
 public:
  // Writes to the descriptor `fd` (borrowed).
  explicit CFollowOutput(int fd) : fd_(fd), idle_(&mu_) {}
  CFollowOutput(const CFollowOutput&) = delete;
  CFollowOutput& operator=(const CFollowOutput&) = delete;

  // Writes `block`, which ends with a line end; false when the output is
  // closed or sealed (the block is dropped). Blocks of several threads
  // never mix.
  bool Write(const std::string& block) EXCLUDES(mu_);

  // True once a write failed.
  bool Closed() const EXCLUDES(mu_);

  // Waits up to `wait_ms` for the block under way and lets no other begin.
  void Seal(int wait_ms) EXCLUDES(mu_);

 private:
  const int fd_;
  mutable qo::pproc::plain_mutex_t mu_;
  qo::pproc::plain_cond_t idle_;  // a block's write ended
  bool writing_ GUARDED_BY(mu_) = false;
  bool closed_ GUARDED_BY(mu_) = false;
  bool sealed_ GUARDED_BY(mu_) = false;
};

#endif  // KRTLOGS_APP_FOLLOW_FOLLOW_OUTPUT_H_
