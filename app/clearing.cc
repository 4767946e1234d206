// Clearing: empties the log of every found unit, in address order.
#include <exception>
#include <ostream>

#include "app/krt_log_extractor.h"
#include "app/reasons.h"

bool CKRTLogExtractor::ClearLogs(bool keep_going) {
  clearing_ = SClearing();
  size_t tried = 0;
  for (const SKRTRecord& unit : units_) {
    ++tried;
    const char* operation = "connect";
    try {
      std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
      Report("Clearing logs on KRT" + unit.name);
      operation = "clear_logs";
      manager->clear_logs();
      ++clearing_.cleared;
    } catch (const std::exception&) {
      Report("Caught exception trying to clear logs");
      diagnostics_ << UnitFailureLine(unit, operation,
                                      DescribeUnitCallFailure(
                                          operation, settings_.timeout_seconds))
                   << std::endl;
      clearing_.failed.push_back(UnitLabel(unit));
      // By default the units after a failing one are left alone: the
      // technician sees where clearing stopped and can run it again.
      if (!keep_going) break;
    }
  }
  clearing_.not_tried = units_.size() - tried;
  return clearing_.failed.empty();
}
