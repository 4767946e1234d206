// The outcome of a fetching run in the Prometheus text format, for
// node_exporter's textfile collector (-metrics FILE).
//
// Gauges describe the last run (krtlogs_run_*, and per unit
// krtlogs_unit_*{unit="KRT3",address="10.1.2.3"}); counters (*_total) and
// the time of the last run that succeeded are carried over from the file
// the previous run wrote, so that a scrape sees them grow across runs.
//
// CMetricsFile opens the file's folder once, when the run starts (a folder
// that cannot be opened fails the run before any unit is asked), reads what
// the previous file carries and, at the end, replaces the file atomically:
// a temporary in the same folder, written whole, synced and renamed over
// it, so a scrape never reads half a file. Nothing is opened by its path
// again after construction, and the file itself is never followed if it is
// a link. One thread (the run driver) owns the object.
#ifndef KRTLOGS_APP_OUTPUT_METRICS_H_
#define KRTLOGS_APP_OUTPUT_METRICS_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// What a run carries over from the previous metrics file.
struct SMetricsHistory {
  uint64_t runs = 0;         // krtlogs_runs_total
  uint64_t runs_failed = 0;  // krtlogs_runs_failed_total
  uint64_t entries = 0;      // krtlogs_entries_collected_total
  uint64_t bytes = 0;        // krtlogs_log_bytes_collected_total
  uint64_t dropped = 0;      // krtlogs_entries_dropped_total
  double last_success = 0;   // krtlogs_last_success_timestamp_seconds; 0: none
};

// One unit of the run.
struct SMetricsUnit {
  std::string name;        // "KRT3"
  std::string address;     // "10.1.2.3"
  bool collected = false;  // whole log in the archive (empty logs included)
  uint64_t dropped = 0;    // entries it dropped before they could be collected
};

// The run as the metrics describe it.
struct SMetricsRun {
  int asked = 0;  // units asked for; negative: every unit published
  size_t found = 0, collected = 0, empty = 0, failed = 0, incomplete = 0;
  uint64_t entries = 0, bytes = 0, dropped = 0, archive_bytes = 0;
  double seconds = 0;
  int exit_status = 0;  // as the shell sees it (0 to 255)
  std::time_t started = 0;
  std::vector<SMetricsUnit> units;
};

// Reads the carried-over values from the text of an earlier file; what is
// missing or unreadable stays 0.
SMetricsHistory ParseMetricsHistory(const std::string& text);

// The whole file for `run` after `history`.
std::string MetricsText(const SMetricsRun& run, const SMetricsHistory& history);

class CMetricsFile {
 public:
  // Opens the folder of `path`. Throws qo::pos::exception_t naming the
  // path when it cannot be opened.
  explicit CMetricsFile(const std::string& path);
  ~CMetricsFile();
  CMetricsFile(const CMetricsFile&) = delete;
  CMetricsFile& operator=(const CMetricsFile&) = delete;

  // What the previous file carries; empty when there is none or what has
  // the name is not a regular file of at most kMaxFileBytes.
  const SMetricsHistory& history() const { return history_; }

  // Replaces the file with `text`. Throws qo::pos::exception_t naming the
  // file; the previous file then stays as it was.
  void Write(const std::string& text);

  static constexpr size_t kMaxFileBytes = 64 << 20;

 private:
  void ReadHistory();

  std::string path_;
  std::string name_;  // the file's name in its folder
  int folder_fd_ = -1;
  SMetricsHistory history_;
};

#endif  // KRTLOGS_APP_OUTPUT_METRICS_H_
