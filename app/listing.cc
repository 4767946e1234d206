// Listing: shows each found unit's index range, one tab-separated line per
// unit in list order, and touches nothing.
#include <exception>
#include <vector>

#include "app/fetch/ordered_output.h"
#include "app/fetch/unit_runner.h"
#include "app/krt_log_extractor.h"
#include "app/reasons.h"
#include "runtime/pos/ip_address.h"

bool CKRTLogExtractor::ListUnits() {
  const std::vector<const SKRTRecord*> units = IndexedUnits();
  std::vector<char> failed(units.size(), 0);
  COrderedOutput out(listener_, diagnostics_, units.size());
  RunForEachUnit(units.size(), settings_.jobs, [&](size_t i) {
    const SKRTRecord& unit = *units[i];
    const std::string head =
        "KRT" + unit.name + "\t" + qo::pos::dotted_address(unit.address);
    const char* operation = "connect";
    try {
      std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
      operation = "range";
      uint32_t first = 0;
      uint32_t last = 0;
      manager->range(first, last);
      const uint32_t count = last > first ? last - first : 0;
      out.Line(i, head + "\t" + std::to_string(first) + "\t" +
                      std::to_string(last) + "\t" + std::to_string(count));
    } catch (const std::exception&) {
      out.Line(i, head + "\tfailed");
      out.Reason(i, UnitFailureLine(unit, operation,
                                    DescribeUnitCallFailure(
                                        operation, settings_.timeout_seconds)));
      failed[i] = 1;
    }
    out.Finish(i);
  });
  for (char f : failed) {
    if (f) return false;
  }
  return true;
}
