// CUnitFetch reads one unit's whole log (or, with -since, what is new) into
// the unit's text file in the run's folder, and hands the same bytes to the
// archive's feed as they are written. The unit's reply goes straight from
// the wire into the file, entry by entry, under a temporary name that
// becomes the file's name only once the log is complete: a unit that fails
// part-way leaves no file behind and nothing in the archive. With -since it
// also says how many entries the unit dropped before they could be
// collected.
//
// One object serves every unit of a run; Run may be called from several
// threads at once, one unit each. Everything it is given is borrowed and
// outlives it.
#ifndef KRTLOGS_APP_FETCH_UNIT_FETCH_H_
#define KRTLOGS_APP_FETCH_UNIT_FETCH_H_

#include <cstddef>
#include <string>

#include "app/output/unit_outcome.h"
#include "app/steps/step_context.h"
#include "app/unit_record.h"

class CArchiveFeed;
class COrderedOutput;
class CProgress;

class CUnitFetch {
 public:
  // `feed` may be null: the archive could not be begun, and only the text
  // files are written.
  CUnitFetch(const SStepIo& io, const SStepSettings& settings,
             COrderedOutput& out, CProgress& progress, CArchiveFeed* feed)
      : io_(io),
        settings_(settings),
        out_(out),
        progress_(progress),
        feed_(feed) {}

  // Unit `index` of the list into the file `file`; its lines and reasons go
  // to the ordered output under `index`.
  UnitOutcome Run(const SKRTRecord& unit, const std::string& file,
                  size_t index) const;

 private:
  // With -since: says on standard error how many entries the unit dropped
  // before they could be collected, when any.
  void ReportDropped(const SKRTRecord& unit, const UnitOutcome& outcome,
                     size_t index) const;

  const SStepIo& io_;
  const SStepSettings& settings_;
  COrderedOutput& out_;
  CProgress& progress_;
  CArchiveFeed* const feed_;
};

#endif  // KRTLOGS_APP_FETCH_UNIT_FETCH_H_
