// Clearing: empties the log of every found unit, in address order.
#include <exception>

#include "app/krt_log_extractor.h"

bool CKRTLogExtractor::ClearLogs(bool keep_going) {
  bool all_cleared = true;
  for (const SKRTRecord& unit : units_) {
    try {
      std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
      Report("Clearing logs on KRT" + unit.name);
      manager->clear_logs();
    } catch (const std::exception& e) {
      Report("Caught exception trying to clear logs");
      Diagnose("KRT" + unit.name + " at " + unit.key, e.what());
      all_cleared = false;
      // By default the units after a failing one are left alone: the
      // technician sees where clearing stopped and can run it again.
      if (!keep_going) return false;
    }
  }
  return all_cleared;
}
