// CArchiving finishes the archive that fetching built while the units were
// read: it waits for the last entries (with a status line on a terminal),
// adds MANIFEST.json and SHA256SUMS with -manifest, and gives the archive
// its name in the output folder; only then are the log files removed. An
// older archive of that name is replaced only by the complete new one, and
// kept as a numbered backup when some unit fell short or the new archive
// holds no log; a failure at any point loses no log (every text file stays)
// and leaves an older archive as it was.
//
// One thread calls Run.
#ifndef KRTLOGS_APP_STEPS_ARCHIVING_H_
#define KRTLOGS_APP_STEPS_ARCHIVING_H_

#include <string>

#include "app/steps/fetching.h"
#include "app/steps/step_context.h"

class CArchiving {
 public:
  CArchiving(const SStepIo& io, const SStepSettings& settings)
      : io_(io), settings_(settings) {}

  // Makes the archive `archive` (a name in the folder) of what `fetched`
  // holds and removes the log files; false when the archive failed (every
  // text file left in place) or a log file could not be removed.
  bool Run(SFetchedLogs& fetched, const std::string& archive);

 private:
  void Report(const std::string& message);
  void Diagnose(const std::string& what, const std::string& reason);

  const SStepIo io_;
  const SStepSettings& settings_;
};

#endif  // KRTLOGS_APP_STEPS_ARCHIVING_H_
