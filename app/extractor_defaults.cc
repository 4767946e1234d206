// The extractor as the tool runs it: discovery through the process's
// repository pump (which tells discovery why it got no answer), units
// reached through log manager proxies that carry the run's call limit, one
// second between repository scans, reasons on standard error.
#include <iostream>

#include "app/krt_log_extractor.h"
#include "runtime/log/log_module.h"
#include "runtime/pm/velto_pump.h"

namespace {

constexpr unsigned kScanPauseMicroseconds = 1000000;

}  // namespace

CKRTLogExtractor::CKRTLogExtractor(CListener* listener)
    : CKRTLogExtractor(
          listener, qo::pm::velto_pump_t::get(),
          [this](const std::string& ior) {
            // The steps run with their settings filled in, limits included.
            return std::unique_ptr<qo::log::manager_if_t>(
                qo::log::proxy_create_timed(ior.c_str(),
                                            settings_.limits->unit_call_ms()));
          },
          kScanPauseMicroseconds, std::cerr) {
  // The tool's only repository calls are discovery's: they get their own
  // short limit, whatever limit the units' calls have.
  qo::pm::velto_pump_t* pump = qo::pm::velto_pump_t::get();
  pump->set_call_timeout(CCallLimits::kRepositoryCallMs);
  SetRepositoryFailureProbe([pump] { return pump->last_failure(); });
}
