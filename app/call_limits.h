// CCallLimits: how long each remote call of a run may take, given and
// worded in one place. Every call to the repository may take
// kRepositoryCallMs, so that a repository that accepts connections and
// never answers cannot hold the run up; every call to a unit may take the
// run's -timeout (0: no limit). Whoever makes a unit's object gives it
// unit_call_ms(), and a failure is worded by the same object
// (UnitCallFailure: "no answer within 60 s"), so the limit in force and the
// limit reported cannot disagree. Plain values; any thread.
#ifndef KRTLOGS_APP_CALL_LIMITS_H_
#define KRTLOGS_APP_CALL_LIMITS_H_

#include <cstdint>

#include "app/reasons.h"

class CCallLimits {
 public:
  static constexpr uint32_t kRepositoryCallMs = 3000;

  // `unit_seconds`: the limit of a call to a unit, 0 for none.
  explicit CCallLimits(uint32_t unit_seconds) : unit_seconds_(unit_seconds) {}

  // The limit to give a unit's log manager object; 0 for none.
  uint32_t unit_call_ms() const { return unit_seconds_ * kMsPerSecond; }

  // Why the call `operation` to a unit just failed; the operation "connect"
  // is the making of the unit's object from its reference. Only inside a
  // catch block.
  SReason UnitCallFailure(const char* operation) const;

  // How a failed repository call is worded.
  static SReasonContext RepositoryContext();

 private:
  static constexpr uint32_t kMsPerSecond = 1000;

  uint32_t unit_seconds_;
};

#endif  // KRTLOGS_APP_CALL_LIMITS_H_
