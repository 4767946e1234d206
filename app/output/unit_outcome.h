// The plain per-unit records of a fetching run: what to ask a unit for,
// what its log file received, and what became of the unit. The pipeline
// fills one UnitOutcome per unit; the summary line, the exit status, the
// manifest, SHA256SUMS and the incremental state are all read from it.
// Plain values, copied freely between threads.
#ifndef KRTLOGS_APP_OUTPUT_UNIT_OUTCOME_H_
#define KRTLOGS_APP_OUTPUT_UNIT_OUTCOME_H_

#include <cstdint>
#include <string>

enum class UnitStatus {
  kOk,      // its file is in the archive
  kEmpty,   // nothing (new) to collect: "No Log entries found on KRT ..."
  kFailed,  // see `reason`
};

// "ok", "empty", "failed".
const char* UnitStatusName(UnitStatus status);

// What to ask a unit for: get_last(count), which is meant to give the
// entries with indexes from `from` to from + count - 1. `incremental` says
// that only entries after those collected earlier are asked for; otherwise
// the unit's whole log is. count 0: nothing to fetch. `dropped` counts the
// entries after those collected earlier that the log no longer holds: its
// first index has moved past them.
struct FetchPlan {
  bool incremental = false;
  uint32_t from = 0;
  uint32_t count = 0;
  uint32_t dropped = 0;
};

// What one log file received; the log writer's result.
struct LogFileSummary {
  uint64_t entries = 0;  // entries written
  uint64_t bytes = 0;    // bytes written
  uint32_t first = 0;    // index of the first entry written; entries > 0
  uint32_t last = 0;     // index of the last entry written; entries > 0
  std::string sha256;    // of the bytes, lower-case hex; empty unless asked
};

struct UnitOutcome {
  // The unit.
  std::string name;     // as in the file name and the lines: "33"
  std::string address;  // dotted IPv4
  std::string key;      // its repository key, "10.1.2.33/log_man_v1"

  UnitStatus status = UnitStatus::kFailed;
  std::string reason;  // kFailed: what went wrong, in plain words

  // The unit's log as range answered: the first index and one past the
  // last. Valid when `ranged`; a unit can fail before answering.
  bool ranged = false;
  uint32_t range_first = 0;
  uint32_t range_end = 0;

  FetchPlan asked;  // what was asked for
  // Of the entries asked for, those the log dropped while it was read: the
  // file starts that many entries after asked.from, and range, asked again
  // afterwards, showed that the unit no longer holds any of them. Only
  // looked at with -since.
  uint32_t dropped_while_read = 0;

  // The file: its name in the archive, set only for kOk.
  std::string file;
  LogFileSummary written;

  double seconds = 0;  // time spent on the unit
};

// The entries that came after those an earlier -since run collected from
// the unit and that the unit dropped before this run could collect them.
// 0 for a unit the state did not know or whose log was reset, and for a
// unit that failed (its record stays, and the next run counts them).
inline uint64_t DroppedEntries(const UnitOutcome& unit) {
  const bool known = unit.asked.incremental || unit.asked.dropped > 0;
  if (!known || unit.status == UnitStatus::kFailed) return 0;
  return uint64_t{unit.asked.dropped} + unit.dropped_while_read;
}

// True when the unit's file holds fewer entries than were asked for: the
// file keeps what came, but the log is not complete.
inline bool IsIncomplete(const UnitOutcome& unit) {
  return unit.status == UnitStatus::kOk &&
         unit.written.entries < unit.asked.count;
}

// True when the run did not get the unit's log whole: the unit failed, or
// its file is incomplete. Such a unit keeps a reason and fails the run.
inline bool FellShort(const UnitOutcome& unit) {
  return unit.status == UnitStatus::kFailed || IsIncomplete(unit);
}

#endif  // KRTLOGS_APP_OUTPUT_UNIT_OUTCOME_H_
