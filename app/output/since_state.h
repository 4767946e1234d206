// The incremental state of -since, kept in the file "krtlogs.state" in the
// output folder: per unit key, the index of the newest entry collected and
// the unit's first index at that time. It decides what to ask each unit for
// and, after a run, records what the run collected.
//
// A state is loaded once before the units are contacted; Plan may then be
// called from any number of threads at once (it only reads). Update and
// Save run on one thread after every unit is done, and only once the
// archive has its final name, so that a state never points past entries
// that are in no archive.
#ifndef KRTLOGS_APP_OUTPUT_SINCE_STATE_H_
#define KRTLOGS_APP_OUTPUT_SINCE_STATE_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/output/unit_outcome.h"

class COutputFolder;

constexpr char kStateFileName[] = "krtlogs.state";

// What an earlier run collected from one unit.
struct SinceRecord {
  uint32_t last_index = 0;  // index of the newest entry collected
  uint32_t log_first = 0;   // the unit's first index at that time
  std::string collected;    // when, "2026-12-08T22:15:00Z"
};

// What to ask a unit whose log holds the indexes first to last - 1 (as
// range answers) for. Only the entries after previous->last_index when
// that record still fits the log: the next index lies within first..last
// and the log's first index has not gone back (a unit that numbers its log
// afresh after a reset). The whole log otherwise: no record, a log cleared
// or reset since, or a record that does not match this unit. An empty or
// inverted range (first >= last) asks for nothing. When the log still fits
// the record but its first index has moved past the next index, the
// entries in between are gone: the plan counts them as dropped.
FetchPlan PlanFetch(const SinceRecord* previous, uint32_t first, uint32_t last);

class CSinceState {
 public:
  // The largest state file read, some 2,000,000 units' worth.
  static constexpr uint64_t kMaxFileBytes = 256 * 1024 * 1024;

  // Reads the state file of `folder`, through the folder's descriptor. A
  // missing file is an empty state. Anything else that is not a state file
  // gives an empty state as well, so that every unit's whole log is
  // collected and nothing is lost, and problem() says what was wrong, for
  // the caller to report: a symbolic link (never followed), something other
  // than a regular file (a FIFO or a device is never read, nor opened when
  // it can be told beforehand), a file over kMaxFileBytes, one that cannot
  // be read, or one that does not hold a state. Such a file is replaced by
  // the next Save. Reading takes time in n log n of the units.
  static CSinceState Load(const COutputFolder& folder);

  // Empty when the file was read or was missing.
  const std::string& problem() const { return problem_; }

  // The record of `key`, or null.
  const SinceRecord* Find(const std::string& key) const;
  FetchPlan Plan(const std::string& key, uint32_t first, uint32_t last) const {
    return PlanFetch(Find(key), first, last);
  }

  // Records what the run collected. Only units with status ok whose file
  // holds every entry asked for from the first on, or every one the unit
  // still held after the read (UnitOutcome::dropped_while_read), change
  // their record: when the file starts later otherwise (the log moved on
  // between range and get_last, or the unit answered fewer entries than
  // asked) the record stays, so the next run asks again from the same
  // place and loses nothing. A unit whose log dropped entries after its
  // record (FetchPlan::dropped) has its record moved up to the log's first
  // index at least, so that a drop is reported once. Units that failed,
  // had nothing new and dropped nothing, or were not in this run keep
  // their records.
  void Update(const std::vector<UnitOutcome>& units,
              std::chrono::system_clock::time_point now);

  // The file's text: {"version": 1, "units": {key: {"last_index": n,
  // "log_first": n, "collected": "..."}}}, keys in sorted order.
  std::string ToJson() const;

  // Replaces the state file of `folder` atomically: the text goes to a
  // temporary of the folder, is flushed to disk and renamed over the old
  // file. On failure the old file stays as it was and qo::pos::exception_t
  // is thrown.
  void Save(const COutputFolder& folder) const;

  size_t size() const { return units_.size(); }

 private:
  std::map<std::string, SinceRecord> units_;
  std::string problem_;
};

#endif  // KRTLOGS_APP_OUTPUT_SINCE_STATE_H_
