#include "app/krt_log_extractor.h"

#include <algorithm>
#include <ostream>

#include "app/archive_target.h"
#include "app/fetch/archive_feed.h"
#include "app/folder.h"
#include "app/steps/archiving.h"
#include "app/steps/fetching.h"
#include "app/steps/following.h"
#include "app/steps/listing.h"
#include "zip/zip_compression_pool.h"

CKRTLogExtractor::CKRTLogExtractor(CListener* listener,
                                   qo::pm::repository_if_t* repository,
                                   ManagerFactory managers,
                                   unsigned pause_microseconds,
                                   std::ostream& diagnostics)
    : listener_(listener),
      repository_(repository),
      managers_(std::move(managers)),
      diagnostics_(diagnostics),
      discovery_(repository, listener, diagnostics, pause_microseconds) {}

CKRTLogExtractor::~CKRTLogExtractor() = default;

void CKRTLogExtractor::Configure(const SFetchSettings& settings) {
  given_ = settings;
}

SStepIo CKRTLogExtractor::Io() {
  return SStepIo{listener_, &diagnostics_, &managers_};
}

const SStepSettings& CKRTLogExtractor::Settings() {
  settings_ = given_;
  if (settings_.options == nullptr) settings_.options = &default_options_;
  if (settings_.limits == nullptr) {
    default_limits_.emplace(settings_.options->timeout_seconds);
    settings_.limits = &*default_limits_;
  }
  if (settings_.archive.empty()) {
    settings_.archive = BaseArchiveName(/*single=*/false, "");
  }
  return settings_;
}

bool CKRTLogExtractor::FindKRT(std::string address) {
  return discovery_.FindOne(address, units_);
}

bool CKRTLogExtractor::FindKRTs(int count) {
  return discovery_.FindCount(count, units_);
}

bool CKRTLogExtractor::FindAllKRTs() { return discovery_.FindAll(units_); }

const SStepSettings& CKRTLogExtractor::FetchSettings() {
  Settings();
  if (settings_.folder == nullptr) {
    if (!own_folder_) own_folder_.reset(new COutputFolder("."));
    settings_.folder = own_folder_.get();
  }
  return settings_;
}

bool CKRTLogExtractor::GetLogs() {
  fetched_.reset();
  fetched_ = CFetching(Io(), FetchSettings()).Run(units_);
  return std::none_of(fetched_->outcomes.begin(), fetched_->outcomes.end(),
                      FellShort);
}

bool CKRTLogExtractor::ZipLogs(const std::string& archive) {
  const SStepSettings& settings = FetchSettings();
  // Without a GetLogs before, nothing was read: the archive holds no entry.
  if (!fetched_) fetched_ = CFetching(Io(), settings).Run(UnitList());
  const bool archived = CArchiving(Io(), settings).Run(*fetched_, archive);
  // The compression pool has done its work.
  fetched_->feed.reset();
  fetched_->pool.reset();
  return archived;
}

bool CKRTLogExtractor::ClearLogs() {
  clearing_ = CClearing(Io(), Settings()).Run(units_);
  return clearing_.failed.empty();
}

void CKRTLogExtractor::FollowLogs(CFollowOutput& out,
                                  const std::function<void()>& on_closed) {
  CFollowing(Io(), Settings(), repository_, out).Run(units_, on_closed);
}

bool CKRTLogExtractor::ListUnits() {
  return CListing(Io(), Settings()).Run(units_);
}

const std::vector<UnitOutcome>& CKRTLogExtractor::outcomes() const {
  static const std::vector<UnitOutcome> kNone;
  return fetched_ ? fetched_->outcomes : kNone;
}

bool CKRTLogExtractor::EveryUnitFailed() const {
  const std::vector<UnitOutcome>& all = outcomes();
  return !all.empty() &&
         std::all_of(all.begin(), all.end(), [](const UnitOutcome& outcome) {
           return outcome.status == UnitStatus::kFailed;
         });
}
