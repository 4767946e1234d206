// CKRTLogExtractor finds KRT units through the repository, reads each
// unit's log into a text file, packs the files into a zip archive, or clears
// the units' logs. It keeps the found units sorted by address and reports
// every progress and failure line through a listener it borrows (the
// listener must outlive the extractor); the reason behind a failure goes to
// a separate diagnostics stream. Main thread only.
#ifndef KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
#define KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "app/folder.h"
#include "app/options.h"
#include "app/output/manifest.h"
#include "app/output/since_state.h"
#include "app/output/unit_outcome.h"
#include "runtime/log/log_types.h"
#include "runtime/log/manager_if.h"
#include "runtime/pm/repository_if.h"

class CKRTLogExtractor {
 public:
  // Receives each message line, without a line terminator.
  class CListener {
   public:
    virtual void OnMessage(const std::string& message) = 0;

   protected:
    // Listeners are never deleted through this interface.
    ~CListener() = default;
  };

  // One found unit.
  struct SKRTRecord {
    std::string key;       // "<dotted address>/log_man_v1"
    std::string ior;       // the value published under key
    std::string name;      // decimal text of the address's last number
    uint32_t address = 0;  // first octet in the most significant byte
  };

  // How retrieval and archiving work; the defaults are those of a plain
  // run in the current folder.
  struct SFetchSettings {
    int jobs = 1;  // units retrieved at once
    // Where the files and the archive go, borrowed; null: the current
    // folder, opened (and locked) by the extractor when first needed.
    const COutputFolder* folder = nullptr;
    uint32_t timeout_seconds = 60;       // the remote calls' limit, for reasons
    LogFormat format = LogFormat::kTsv;  // of the log files
    // Threads compressing the log files; 0: one per core.
    int compression_workers = 0;
    // A status line on standard error while units are read (a terminal,
    // no -q).
    bool progress = false;
    // With -manifest: the run as MANIFEST.json tells it (its end time is
    // set when the archive is made); borrowed, null without -manifest.
    // Each log file's SHA-256 is computed as it is written.
    RunRecord* manifest = nullptr;
    // With -since: what earlier runs collected; borrowed, may be null.
    const CSinceState* since = nullptr;
  };

  // What the last ClearLogs did.
  struct SClearing {
    size_t cleared = 0;               // units whose log was emptied
    std::vector<std::string> failed;  // UnitLabel of each failing unit
    size_t not_tried = 0;             // units after a stop
  };

  // How the last discovery went, for the driver and the run's summary.
  struct SDiscovery {
    int asked = 0;     // units asked for; kAllUnits for FindAllKRTs
    size_t found = 0;  // units this discovery recorded
    // The repository's last failure: a transport failure that left it
    // silent, or an error it raised (which ends the search at once). Null
    // when its last answer came.
    std::exception_ptr failure;
    std::string failed_operation;  // "keys_get" or "value_get"
  };

  // Makes the log manager object for a unit's published reference; throws
  // when no object can be made.
  using ManagerFactory = std::function<std::unique_ptr<qo::log::manager_if_t>(
      const std::string& ior)>;
  // The transport failure that the repository object swallowed in the call
  // just made (the pump hides them), or null.
  using FailureProbe = std::function<std::exception_ptr()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int kAllUnits = -1;
  // Each repository call gives up after this long, and a whole discovery
  // starts no new scan once this much time has passed: a repository that
  // accepts connections and never answers cannot hold the run up.
  static constexpr uint32_t kRepositoryCallTimeoutMs = 3000;
  static constexpr int kDiscoverySeconds = 15;

  // Works against the process's repository pump and real unit proxies,
  // pausing one second between repository scans.
  explicit CKRTLogExtractor(CListener* listener);
  ~CKRTLogExtractor();
  // Everything the extractor reaches outside itself, for tests and tools:
  // `repository` is borrowed and must outlive the extractor.
  CKRTLogExtractor(CListener* listener, qo::pm::repository_if_t* repository,
                   ManagerFactory managers, unsigned pause_microseconds,
                   std::ostream& diagnostics);

  void Configure(const SFetchSettings& settings) { settings_ = settings; }

  // Discovery: wait for the unit at `address`, or for `count` units. A
  // failed FindKRTs keeps the units it found (see discovery()). When
  // discovery fails, the reason is on the diagnostics stream.
  bool FindKRT(std::string address);
  bool FindKRTs(int count);
  // Every unit published: scans until a scan finds at least one unit and
  // the same set as the scan before, and takes that set (after ten scans
  // without that, the last scan's). False when no unit was found or the
  // repository failed.
  bool FindAllKRTs();
  const SDiscovery& discovery() const { return discovery_; }

  // Where discovery learns why the repository gave no answer (default:
  // nowhere), and its clock (default: std::chrono::steady_clock).
  void SetRepositoryFailureProbe(FailureProbe probe) {
    repository_failure_ = std::move(probe);
  }
  void SetClock(Clock clock) { now_ = std::move(clock); }
  // Writes one text file per unit, up to `jobs` units at once, reporting
  // each unit's lines in list order; false when any unit failed or sent
  // less than it announced.
  bool GetLogs();
  // Packs the files GetLogs wrote into the archive named `archive` in the
  // output folder and then removes them; false (with every text file left
  // in place) when archiving failed.
  bool ZipLogs(const std::string& archive);
  // Empties the log of every unit; false when any failed. Stops at the
  // first failure unless `keep_going`.
  bool ClearLogs(bool keep_going = false);
  // One line per unit with its name, address, first and last index and
  // the number of entries a fetch would ask for; false when a unit's range
  // could not be read.
  bool ListUnits();

  const std::list<SKRTRecord>& units() const { return units_; }
  const SClearing& clearing() const { return clearing_; }
  // What became of each unit, in list order, after GetLogs.
  const std::vector<UnitOutcome>& outcomes() const { return outcomes_; }
  // True when GetLogs had units and none of them gave a log, not even an
  // empty one: there is nothing an archive could hold.
  bool EveryUnitFailed() const;

 private:
  static uint32_t ParseAddress(const std::string& text, std::string& name);

  void Report(const std::string& message);
  void Diagnose(const std::string& what, const std::string& reason);
  void Insert(const SKRTRecord& record);
  void Pause();

  // Discovery's steps (discovery.cc).
  void BeginDiscovery(int asked);
  // One keys_get into `keys`; true when the repository answered.
  bool Query(std::list<std::string>& keys);
  // Reads the key's value and records the unit; false when the repository
  // failed, which ends the search.
  bool Record(const std::string& key);
  // Notes how the repository call `operation` just went: `thrown` is what
  // it threw, or null.
  void NoteRepository(const char* operation, std::exception_ptr thrown);
  bool SearchEnded() const;
  bool PastDeadline() const;
  // The reason a discovery failed, on the diagnostics stream; `wanted`
  // says what was looked for.
  void ExplainFailure(const std::string& wanted);
  // The text file name of each unit, in list order; units sharing a name
  // after the first get their dotted address instead.
  std::vector<std::string> LogFileNames() const;
  // Retrieves one unit's log into its file; reports through `out`.
  UnitOutcome FetchUnit(const SKRTRecord& unit, const COutputFolder& folder,
                        const std::string& file, size_t index,
                        class COrderedOutput& out, class CProgress& progress);
  // The found units in list order, for work that picks them by index.
  std::vector<const SKRTRecord*> IndexedUnits() const;
  // The output folder of the settings, or the current one.
  const COutputFolder& Folder();

  std::list<SKRTRecord> units_;
  CListener* listener_;
  qo::pm::repository_if_t* repository_;
  ManagerFactory managers_;
  unsigned pause_microseconds_;
  std::ostream& diagnostics_;
  SFetchSettings settings_;
  std::unique_ptr<COutputFolder> own_folder_;  // when settings_ has none
  // Compresses the log files GetLogs completes, for ZipLogs to take.
  std::unique_ptr<class CCompressionStage> compression_;
  // What the last GetLogs did, one record per unit in list order.
  std::vector<UnitOutcome> outcomes_;
  SClearing clearing_;
  FailureProbe repository_failure_;
  Clock now_ = std::chrono::steady_clock::now;
  SDiscovery discovery_;
  bool search_stopped_ = false;  // the repository raised an error
  std::chrono::steady_clock::time_point deadline_;
};

#endif  // KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
