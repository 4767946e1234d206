// COrderedOutput prints the lines of units that are processed at the same
// time as if they had been processed one after another: a unit's lines
// appear only after every earlier unit's lines. The unit at the head of the
// list prints at once, so that one worker gives exactly the output of a
// sequential run, as it happens; the lines of later units wait in memory
// until every unit before them has finished.
//
// Standard-output lines go to the listener, reasons to the diagnostics
// stream, both in that order, each with a progress line (if any) kept off
// the terminal while it is printed. Any thread; the listener, the stream
// and the progress are borrowed and only ever used with the object's lock
// held.
#ifndef KRTLOGS_APP_FETCH_ORDERED_OUTPUT_H_
#define KRTLOGS_APP_FETCH_ORDERED_OUTPUT_H_

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/listener.h"
#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

class COrderedOutput {
 public:
  COrderedOutput(CListener* listener, std::ostream& diagnostics, size_t units,
                 class CProgress* progress = nullptr);
  COrderedOutput(const COrderedOutput&) = delete;
  COrderedOutput& operator=(const COrderedOutput&) = delete;

  // A line of standard output, or a reason on standard error, of unit
  // `unit` (0-based, list order).
  void Line(size_t unit, const std::string& text) EXCLUDES(lock_);
  void Reason(size_t unit, const std::string& text) EXCLUDES(lock_);
  // The unit has no more lines. Every unit must be finished exactly once;
  // lines of units that were never finished are never printed.
  void Finish(size_t unit) EXCLUDES(lock_);

 private:
  struct Message {
    bool reason;
    std::string text;
  };
  struct Pending {
    std::vector<Message> messages;
    bool finished = false;
  };

  void Add(size_t unit, bool reason, const std::string& text) EXCLUDES(lock_);
  void Print(const Message& message) REQUIRES(lock_);

  CListener* const listener_;
  std::ostream& diagnostics_;
  CProgress* const progress_;
  qo::pproc::plain_mutex_t lock_;
  std::vector<Pending> pending_ GUARDED_BY(lock_);
  size_t head_ GUARDED_BY(lock_) = 0;  // first unit not yet finished
};

#endif  // KRTLOGS_APP_FETCH_ORDERED_OUTPUT_H_
