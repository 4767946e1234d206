#include "app/steps/clearing.h"

#include <exception>
#include <memory>
#include <ostream>

#include "app/reasons.h"

CClearing::SResult CClearing::Run(const UnitList& units) {
  SResult result;
  size_t tried = 0;
  for (const SKRTRecord& unit : units) {
    ++tried;
    const char* operation = "connect";
    try {
      std::unique_ptr<qo::log::manager_if_t> manager =
          (*io_.managers)(unit.ior);
      io_.listener->OnMessage("Clearing logs on KRT" + unit.name);
      operation = "clear_logs";
      manager->clear_logs();
      ++result.cleared;
    } catch (const std::exception&) {
      io_.listener->OnMessage("Caught exception trying to clear logs");
      *io_.diagnostics << UnitFailureLine(
                              unit, operation,
                              settings_.limits->UnitCallFailure(operation))
                       << std::endl;
      result.failed.push_back(UnitLabel(unit));
      if (!settings_.options->keep_going) break;
    }
  }
  result.not_tried = units.size() - tried;
  return result;
}
