// CKRTLogExtractor runs the steps of a run over its list of units: it
// finds the units through the repository (steps/discovery.h), then lists
// them (steps/listing.h), reads their logs into text files while the
// archive is built from them (steps/fetching.h), finishes the archive
// (steps/archiving.h), clears the units' logs (steps/clearing.h), or
// follows them, printing entries as they arrive (steps/following.h). Each
// operation is one call into its step. The extractor keeps the units sorted
// by address; every line of progress and failure goes through a listener it
// borrows (which must outlive it), the reason behind a failure to a
// separate diagnostics stream.
//
// One thread (the driver's) calls its operations; fetching and listing
// spread their work over threads of their own and return when it is done.
#ifndef KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
#define KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/call_limits.h"
#include "app/listener.h"
#include "app/options.h"
#include "app/output/unit_outcome.h"
#include "app/steps/clearing.h"
#include "app/steps/discovery.h"
#include "app/steps/step_context.h"
#include "app/unit_record.h"
#include "runtime/pm/repository_if.h"

class CFollowOutput;
class COutputFolder;
struct SFetchedLogs;

class CKRTLogExtractor {
 public:
  using CListener = ::CListener;
  using SKRTRecord = ::SKRTRecord;
  using ManagerFactory = ::ManagerFactory;
  using SDiscovery = CDiscovery::SOutcome;
  using SClearing = CClearing::SResult;
  using FailureProbe = CDiscovery::FailureProbe;
  using Clock = CDiscovery::Clock;

  static constexpr int kAllUnits = CDiscovery::kAllUnits;
  static constexpr uint32_t kRepositoryCallTimeoutMs =
      CCallLimits::kRepositoryCallMs;
  static constexpr int kDiscoverySeconds = CDiscovery::kDiscoverySeconds;

  // What the steps read, as the driver sets it up; see SStepSettings.
  // Pointers left null take: the options' defaults and the limits made
  // from them, and the current folder, opened (and locked) by the extractor
  // when first needed. The archive's name, left empty, is "KRTLogs.zip".
  using SFetchSettings = SStepSettings;

  // Works against the process's repository pump and real unit proxies,
  // pausing one second between repository scans, reasons on standard
  // error.
  explicit CKRTLogExtractor(CListener* listener);
  // Everything the extractor reaches outside itself, for tests and tools:
  // `repository` is borrowed and must outlive the extractor.
  CKRTLogExtractor(CListener* listener, qo::pm::repository_if_t* repository,
                   ManagerFactory managers, unsigned pause_microseconds,
                   std::ostream& diagnostics);
  ~CKRTLogExtractor();

  void Configure(const SFetchSettings& settings);

  // Discovery: wait for the unit at `address`, for `count` units, or for
  // every unit published (CDiscovery). A failed FindKRTs keeps the units it
  // found; when discovery fails, the reason is on the diagnostics stream.
  bool FindKRT(std::string address);
  bool FindKRTs(int count);
  bool FindAllKRTs();
  const SDiscovery& discovery() const { return discovery_.outcome(); }

  // Where discovery learns why the repository gave no answer, and its
  // clock (CDiscovery).
  void SetRepositoryFailureProbe(FailureProbe probe) {
    discovery_.SetFailureProbe(std::move(probe));
  }
  void SetClock(Clock clock) { discovery_.SetClock(std::move(clock)); }

  // Writes one text file per unit, up to -j units at once, reporting each
  // unit's lines in list order, and builds the archive's entries from the
  // same bytes; false when any unit failed or sent less than it announced.
  bool GetLogs();
  // Finishes the archive GetLogs began under the name `archive` in the
  // output folder and then removes the files; false (with every text file
  // left in place) when archiving failed. Without a GetLogs before, the
  // archive holds no entry.
  bool ZipLogs(const std::string& archive);
  // Empties the log of every unit; false when any failed. Stops at the
  // first failure unless -keep-going.
  bool ClearLogs();
  // One line per unit with its name, address, first and last index and
  // the number of entries a fetch would ask for; false when a unit's range
  // could not be read.
  bool ListUnits();

  // Prints the units' entries to `out` as they arrive (-follow), with -all
  // also those of units published later, until `out` closes; then runs
  // `on_closed` (steps/following.h).
  void FollowLogs(CFollowOutput& out, const std::function<void()>& on_closed);

  const std::list<SKRTRecord>& units() const { return units_; }
  const SClearing& clearing() const { return clearing_; }
  // What became of each unit, in list order, after GetLogs.
  const std::vector<UnitOutcome>& outcomes() const;
  // True when GetLogs had units and none of them gave a log, not even an
  // empty one: there is nothing an archive could hold.
  bool EveryUnitFailed() const;

 private:
  static uint32_t ParseAddress(const std::string& text, std::string& name) {
    return CDiscovery::ParseAddress(text, name);
  }

  SStepIo Io();
  // The settings with every default filled in; FetchSettings also opens
  // (and locks) the current folder when no folder was given.
  const SStepSettings& Settings();
  const SStepSettings& FetchSettings();

  std::list<SKRTRecord> units_;
  CListener* listener_;
  qo::pm::repository_if_t* repository_;
  ManagerFactory managers_;
  std::ostream& diagnostics_;
  CDiscovery discovery_;

  SFetchSettings given_;
  RunOptions default_options_;
  std::optional<CCallLimits> default_limits_;
  std::unique_ptr<COutputFolder> own_folder_;  // when none was given
  SStepSettings settings_;                     // given_, filled in

  // What the last GetLogs left for ZipLogs.
  std::unique_ptr<SFetchedLogs> fetched_;
  SClearing clearing_;
};

#endif  // KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
