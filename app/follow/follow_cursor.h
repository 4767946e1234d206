// CFollowCursor keeps, for one followed unit, the index of the next entry
// to print, and decides from each range the unit answers what to ask for
// and what to say:
//  - the first range: the newest `tail` entries (all when it holds fewer);
//  - a range that went back (its end below the next index, or its first
//    index below the one seen before: a log numbered afresh), or a log
//    that got shorter while its first index moved up (cleared, its indexes
//    going on): the log is followed from its new first index, and the
//    caller says so once;
//  - a first index past the next one otherwise: the entries in between
//    were dropped by the unit (a full log), and the caller says how many;
//  - then every entry from the next index to the end.
// An inverted range (first above end) holds nothing and changes nothing.
// Printed moves the next index past what reached standard output, so
// that no entry is printed twice.
//
// A plain value, used by one thread at a time.
#ifndef KRTLOGS_APP_FOLLOW_FOLLOW_CURSOR_H_
#define KRTLOGS_APP_FOLLOW_FOLLOW_CURSOR_H_

#include <cstdint>

class CFollowCursor {
 public:
  enum class Event { kNone, kRestarted, kDropped };

  struct SPlan {
    Event event = Event::kNone;
    // kRestarted: entries after the last printed that went with the old
    // log; kDropped: entries the unit dropped before they were printed.
    uint64_t lost = 0;
    uint32_t from = 0;   // the next index to print
    uint32_t count = 0;  // entries from `from` to the range's end
  };

  explicit CFollowCursor(uint32_t tail) : tail_(tail) {}

  // What to do with the range [first, end) the unit just answered.
  SPlan Plan(uint32_t first, uint32_t end);

  // The entry at `index` reached standard output.
  void Printed(uint32_t index) { next_ = index + 1; }

  uint32_t next() const { return next_; }

 private:
  const uint32_t tail_;
  bool started_ = false;
  uint32_t next_ = 0;
  uint32_t first_ = 0;  // the range seen last
  uint32_t end_ = 0;
};

#endif  // KRTLOGS_APP_FOLLOW_FOLLOW_CURSOR_H_
