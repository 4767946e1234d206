// Runs one piece of work per unit on up to `jobs` threads at once, handing
// out the units in list order (unit 0 first). With one job everything runs
// on the calling thread, exactly as a plain loop would. Returns when every
// unit's work has returned. The work must not throw.
#ifndef KRTLOGS_APP_FETCH_UNIT_RUNNER_H_
#define KRTLOGS_APP_FETCH_UNIT_RUNNER_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "app/unit_record.h"

void RunForEachUnit(size_t units, int jobs,
                    const std::function<void(size_t unit)>& work);

// The units in list order, for work that picks them by index.
std::vector<const SKRTRecord*> IndexedUnits(const UnitList& units);

#endif  // KRTLOGS_APP_FETCH_UNIT_RUNNER_H_
