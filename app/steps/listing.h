// CListing shows each unit's index range, one tab-separated line per unit
// in list order on the listener, and touches nothing:
//
//   KRT33<TAB>10.1.2.33<TAB>100<TAB>103<TAB>3
//
// (name, address, first index, end: one past the last index, and the
// number of entries a fetch would ask for), or "failed" after the address
// with the reason on the diagnostics stream. Up to -j units are asked at once;
// the lines come out as from one. One thread calls Run.
#ifndef KRTLOGS_APP_STEPS_LISTING_H_
#define KRTLOGS_APP_STEPS_LISTING_H_

#include "app/steps/step_context.h"
#include "app/unit_record.h"

class CListing {
 public:
  CListing(const SStepIo& io, const SStepSettings& settings)
      : io_(io), settings_(settings) {}

  // False when a unit's range could not be read.
  bool Run(const UnitList& units);

 private:
  const SStepIo io_;
  const SStepSettings& settings_;
};

#endif  // KRTLOGS_APP_STEPS_LISTING_H_
