// CKRTLogExtractor finds KRT units through the repository, reads each
// unit's log into a text file, packs the files into a zip archive, or clears
// the units' logs. It keeps the found units sorted by address and reports
// every progress and failure line through a listener it borrows (the
// listener must outlive the extractor); the reason behind a failure goes to
// a separate diagnostics stream. Main thread only.
#ifndef KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
#define KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_

#include <cstdint>
#include <cstdio>
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

  // Makes the log manager object for a unit's published reference; throws
  // when no object can be made.
  using ManagerFactory = std::function<std::unique_ptr<qo::log::manager_if_t>(
      const std::string& ior)>;

  // Works against the process's repository pump and real unit proxies,
  // pausing one second between repository scans.
  explicit CKRTLogExtractor(CListener* listener);
  // Everything the extractor reaches outside itself, for tests and tools:
  // `repository` is borrowed and must outlive the extractor.
  CKRTLogExtractor(CListener* listener, qo::pm::repository_if_t* repository,
                   ManagerFactory managers, unsigned pause_microseconds,
                   std::ostream& diagnostics);

  // Discovery: wait for the unit at `address`, or for `count` units.
  bool FindKRT(std::string address);
  bool FindKRTs(int count);
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
  SKRTRecord MakeRecord(const std::string& key);
  void Pause();
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
  // Text files the last GetLogs wrote, in unit order.
  std::vector<std::string> written_files_;
};

#endif  // KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
