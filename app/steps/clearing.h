// CClearing empties the log of every unit, in list order, reporting
// "Clearing logs on KRT<n>" before each clear_logs and "Caught exception
// trying to clear logs" (the reason on the diagnostics stream) when one
// fails. It stops at the first failure, so that the technician sees where
// clearing stopped, unless -keep-going. One thread calls Run.
#ifndef KRTLOGS_APP_STEPS_CLEARING_H_
#define KRTLOGS_APP_STEPS_CLEARING_H_

#include <cstddef>
#include <string>
#include <vector>

#include "app/steps/step_context.h"
#include "app/unit_record.h"

class CClearing {
 public:
  // What a clearing run did.
  struct SResult {
    size_t cleared = 0;               // units whose log was emptied
    std::vector<std::string> failed;  // UnitLabel of each failing unit
    size_t not_tried = 0;             // units after a stop
  };

  CClearing(const SStepIo& io, const SStepSettings& settings)
      : io_(io), settings_(settings) {}

  SResult Run(const UnitList& units);

 private:
  const SStepIo io_;
  const SStepSettings& settings_;
};

#endif  // KRTLOGS_APP_STEPS_CLEARING_H_
