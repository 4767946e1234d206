// CFollowedUnit is one unit while -follow runs: its log manager object,
// kept from one round to the next, and where its printing stands
// (CFollowCursor). Poll makes one round: the unit's range, then only what
// is new, with the calls and the time-out of a fetch (range, get_last
// streamed into the lines of standard output).
//
// What changes about the unit goes to standard error, each once: a log
// that was cleared or reset, entries the unit dropped before they were
// printed, a unit that stops answering and, later, that it answers again.
//
// Everything it is given is borrowed and outlives it. One thread at a time
// calls it (the following step hands each unit to one worker at a time).
#ifndef KRTLOGS_APP_FOLLOW_FOLLOWED_UNIT_H_
#define KRTLOGS_APP_FOLLOW_FOLLOWED_UNIT_H_

#include <functional>
#include <memory>
#include <string>

#include "app/follow/follow_cursor.h"
#include "app/steps/step_context.h"
#include "app/unit_record.h"

class CFollowOutput;

class CFollowedUnit {
 public:
  // Writes one line (without its line end) to standard error; serialised
  // by the caller, any thread.
  using Say = std::function<void(const std::string& line)>;

  // `shown` is the unit's name at the head of its lines ("KRT33").
  CFollowedUnit(const SKRTRecord& record, const std::string& shown,
                const SStepIo& io, const SStepSettings& settings,
                CFollowOutput& out, const Say& say);

  // One round; false when the unit did not answer (said once, until it
  // answers again) or standard output closed.
  bool Poll();

  // The reference published for the unit now; a changed one is used from
  // the next round on.
  void SetReference(const std::string& ior);

  const SKRTRecord& record() const { return record_; }

 private:
  // Says what the plan found about the unit's log.
  void Announce(const CFollowCursor::SPlan& plan);
  // Reads and prints the entries the plan asks for; throws as the calls do.
  void PrintNew(CFollowCursor::SPlan plan, uint32_t end);

  SKRTRecord record_;
  const std::string prefix_;  // what each of its lines starts with
  const SStepIo& io_;
  const SStepSettings& settings_;
  CFollowOutput& out_;
  const Say& say_;
  std::unique_ptr<qo::log::manager_if_t> manager_;
  CFollowCursor cursor_;
  bool silent_ = false;  // said that it stopped answering
};

#endif  // KRTLOGS_APP_FOLLOW_FOLLOWED_UNIT_H_
