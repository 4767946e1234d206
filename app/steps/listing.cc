#include "app/steps/listing.h"

#include <exception>
#include <vector>

#include "app/fetch/ordered_output.h"
#include "app/fetch/unit_runner.h"
#include "app/reasons.h"
#include "runtime/pos/ip_address.h"

bool CListing::Run(const UnitList& units) {
  const std::vector<const SKRTRecord*> indexed = IndexedUnits(units);
  std::vector<char> failed(indexed.size(), 0);
  COrderedOutput out(io_.listener, *io_.diagnostics, indexed.size());
  RunForEachUnit(indexed.size(), settings_.options->jobs, [&](size_t i) {
    const SKRTRecord& unit = *indexed[i];
    const std::string head =
        "KRT" + unit.name + "\t" + qo::pos::dotted_address(unit.address);
    const char* operation = "connect";
    try {
      std::unique_ptr<qo::log::manager_if_t> manager =
          (*io_.managers)(unit.ior);
      operation = "range";
      // The line's fourth field is the range's end: one past the newest
      // entry, as the unit answers it.
      uint32_t first = 0;
      uint32_t end = 0;
      manager->range(first, end);
      const uint32_t count = end > first ? end - first : 0;
      out.Line(i, head + "\t" + std::to_string(first) + "\t" +
                      std::to_string(end) + "\t" + std::to_string(count));
    } catch (const std::exception&) {
      out.Line(i, head + "\tfailed");
      out.Reason(i,
                 UnitFailureLine(unit, operation,
                                 settings_.limits->UnitCallFailure(operation)));
      failed[i] = 1;
    }
    out.Finish(i);
  });
  for (char f : failed) {
    if (f) return false;
  }
  return true;
}
