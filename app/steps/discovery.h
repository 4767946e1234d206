// CDiscovery finds the units through the repository: it polls for the keys
// units publish ("<address>/log_man_v1") and adds a record for each unit
// found to the caller's unit list, keeping it sorted by address. Three
// searches: the unit at one address, a number of units, or every unit
// published. Each scans at most ten times, one pause apart, and starts no
// scan after kDiscoverySeconds; every way a search can fail ends in a false
// result with the reason on the diagnostics stream: a repository that
// cannot be reached or never answers, one that raises an error, or too few
// units. The lines of progress go to the listener.
//
// The repository, the listener and the stream are borrowed and must
// outlive the object. One thread (the driver's).
#ifndef KRTLOGS_APP_STEPS_DISCOVERY_H_
#define KRTLOGS_APP_STEPS_DISCOVERY_H_

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <string>

#include "app/listener.h"
#include "app/unit_record.h"
#include "runtime/pm/repository_if.h"

class CDiscovery {
 public:
  // The transport failure that the repository object swallowed in the call
  // just made (the pump hides them), or null.
  using FailureProbe = std::function<std::exception_ptr()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int kAllUnits = -1;
  // A search starts no new scan once this much time has passed.
  static constexpr int kDiscoverySeconds = 15;

  // How the last search went, for the driver and the run's summary.
  struct SOutcome {
    int asked = 0;     // units asked for; kAllUnits for FindAll
    size_t found = 0;  // units this search recorded
    // The repository's last failure: a transport failure that left it
    // silent, or an error it raised (which ends the search at once). Null
    // when its last answer came.
    std::exception_ptr failure;
    std::string failed_operation;  // "keys_get" or "value_get"
  };

  // `pause_microseconds` between two scans.
  CDiscovery(qo::pm::repository_if_t* repository, CListener* listener,
             std::ostream& diagnostics, unsigned pause_microseconds);

  // Where a search learns why the repository gave no answer (default:
  // nowhere), and its clock (default: std::chrono::steady_clock).
  void SetFailureProbe(FailureProbe probe) { probe_ = std::move(probe); }
  void SetClock(Clock clock) { now_ = std::move(clock); }

  // Waits for the unit at `address`.
  bool FindOne(const std::string& address, UnitList& units);
  // Waits for `count` units; a failed search keeps those it found.
  bool FindCount(int count, UnitList& units);
  // Every unit published: scans until a scan finds at least one unit and
  // the same set as the scan before, and takes that set (after ten scans
  // without that, the last scan's). False when no unit was found or the
  // repository failed.
  bool FindAll(UnitList& units);

  const SOutcome& outcome() const { return outcome_; }

  // Reads a dotted address at the start of `text` the way scanf's "%i"
  // reads each number, returns it packed (first number in the most
  // significant byte) and stores the decimal text of its last number into
  // `name`.
  static uint32_t ParseAddress(const std::string& text, std::string& name);

  // The address part of a unit's key ("10.1.2.3" of "10.1.2.3/log_man_v1");
  // false for a key without the suffix.
  static bool AddressText(const std::string& key, std::string& text);

 private:
  void Report(const std::string& message);
  void Begin(int asked);
  // One keys_get into `keys`; true when the repository answered.
  bool Query(std::list<std::string>& keys);
  // Reads the key's value and records the unit; false when the repository
  // failed, which ends the search.
  bool Record(const std::string& key, UnitList& units);
  // Notes how the repository call `operation` just went: `thrown` is what
  // it threw, or null.
  void NoteRepository(const char* operation, std::exception_ptr thrown);
  bool PastDeadline() const;
  // The reason a search failed, on the diagnostics stream; `wanted` says
  // what was looked for.
  void ExplainFailure(const std::string& wanted, const UnitList& units);
  void Pause();

  qo::pm::repository_if_t* const repository_;
  CListener* const listener_;
  std::ostream& diagnostics_;
  const unsigned pause_microseconds_;
  FailureProbe probe_;
  Clock now_ = std::chrono::steady_clock::now;
  SOutcome outcome_;
  bool stopped_ = false;  // the repository raised an error
  std::chrono::steady_clock::time_point deadline_;
};

#endif  // KRTLOGS_APP_STEPS_DISCOVERY_H_
