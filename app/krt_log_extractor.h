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
  // Everything the extractor reaches outside itself, for tests and tools:
  // `repository` is borrowed and must outlive the extractor.
  CKRTLogExtractor(CListener* listener, qo::pm::repository_if_t* repository,
                   ManagerFactory managers, unsigned pause_microseconds,
                   std::ostream& diagnostics);

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
  // Writes one text file per unit; false when any unit failed.
  bool GetLogs();
  // Packs the files GetLogs wrote into `archive` and then removes them;
  // false (with every text file left in place) when archiving failed.
  bool ZipLogs(const std::string& archive);
  // Empties the log of every unit; stops at the first failure (false).
  bool ClearLogs();

  const std::list<SKRTRecord>& units() const { return units_; }

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
  bool WriteLogFile(const qo::log::log_entry_list_t& entries,
                    const std::string& file, const std::string& name);
  bool WriteEntries(const qo::log::log_entry_list_t& entries, FILE* file);

  std::list<SKRTRecord> units_;
  CListener* listener_;
  qo::pm::repository_if_t* repository_;
  ManagerFactory managers_;
  unsigned pause_microseconds_;
  std::ostream& diagnostics_;
  FailureProbe repository_failure_;
  Clock now_ = std::chrono::steady_clock::now;
  SDiscovery discovery_;
  bool search_stopped_ = false;  // the repository raised an error
  std::chrono::steady_clock::time_point deadline_;
  // Text files the last GetLogs wrote, in unit order.
  std::vector<std::string> written_files_;
};

#endif  // KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
