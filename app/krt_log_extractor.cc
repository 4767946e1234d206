#include "app/krt_log_extractor.h"

#include <ostream>

#include "app/fetch/compression_stage.h"

CKRTLogExtractor::CKRTLogExtractor(CListener* listener,
                                   qo::pm::repository_if_t* repository,
                                   ManagerFactory managers,
                                   unsigned pause_microseconds,
                                   std::ostream& diagnostics)
    : listener_(listener),
      repository_(repository),
      managers_(std::move(managers)),
      pause_microseconds_(pause_microseconds),
      diagnostics_(diagnostics) {}

void CKRTLogExtractor::Report(const std::string& message) {
  listener_->OnMessage(message);
}

void CKRTLogExtractor::Diagnose(const std::string& what,
                                const std::string& reason) {
  diagnostics_ << "krtlogs: " << what << ": " << reason << std::endl;
}

std::vector<const CKRTLogExtractor::SKRTRecord*>
CKRTLogExtractor::IndexedUnits() const {
  std::vector<const SKRTRecord*> units;
  units.reserve(units_.size());
  for (const SKRTRecord& unit : units_) units.push_back(&unit);
  return units;
}

CKRTLogExtractor::~CKRTLogExtractor() = default;
