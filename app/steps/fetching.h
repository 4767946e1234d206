// CFetching reads every unit's log into a text file of its own in the
// run's folder, up to -j units at once (fetch/unit_fetch.h). Each unit's
// lines come out in list order, exactly as if the units were read one after
// another. The archive is built from the same bytes as the files are
// written, on the workers of one compression pool (fetch/archive_feed.h);
// archiving (steps/archiving.h) finishes it.
//
// A unit's file name is "KRT<n>_log.txt" (".jsonl" for -format jsonl); a
// later unit with a name already taken gets its whole address instead, so
// that it cannot replace an earlier unit's file.
//
// One thread calls Run.
#ifndef KRTLOGS_APP_STEPS_FETCHING_H_
#define KRTLOGS_APP_STEPS_FETCHING_H_

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/output/unit_outcome.h"
#include "app/steps/step_context.h"
#include "app/unit_record.h"

class CArchiveFeed;
class CZipCompressionPool;

// What fetching leaves for archiving. The pool outlives the feed, whose
// entries it may still be compressing.
struct SFetchedLogs {
  SFetchedLogs();
  ~SFetchedLogs();

  // What became of each unit, in list order.
  std::vector<UnitOutcome> outcomes;
  std::unique_ptr<CZipCompressionPool> pool;
  // The archive under way; null when it could not be begun, and then
  // `feed_failure` says why.
  std::unique_ptr<CArchiveFeed> feed;
  std::exception_ptr feed_failure;
};

class CFetching {
 public:
  CFetching(const SStepIo& io, const SStepSettings& settings)
      : io_(io), settings_(settings) {}

  std::unique_ptr<SFetchedLogs> Run(const UnitList& units);

  // The text file name of each unit, in list order.
  static std::vector<std::string> LogFileNames(const UnitList& units,
                                               LogFormat format);

 private:
  const SStepIo io_;
  const SStepSettings& settings_;
};

#endif  // KRTLOGS_APP_STEPS_FETCHING_H_
