// The one line on standard error that ends every fetching or clearing run:
// how many units were asked for, found, collected or cleared, which failed,
// how much log text came in, where the archive is and how long it took.
//
// Fetching:
//   krtlogs: summary: 10 asked, 10 found, 8 collected, 1 empty, 1 failed:
//   KRT33 (10.1.2.33); 800000 entries, 81234567 bytes of log text; archive
//   /home/tech/KRTLogs.zip (9123456 bytes); 12.3 s
// Clearing:
//   krtlogs: summary: all asked, 7 found, 5 cleared, 1 not tried, 1
//   failed: KRT4 (10.1.2.4); 2.1 s
// (each one line). "asked" is "all" for a run over every published unit;
// "failed" lists the units, in list order, only when there are any;
// "archive" reads "no archive" when none was written. With -since, when
// some unit dropped entries before they could be collected, ", 1234
// entries dropped by the units" follows the bytes of log text.
//
// The driver fills the record as the run goes and prints the line at the
// end; the record is plain data, owned by whoever fills it.
#ifndef KRTLOGS_APP_SUMMARY_H_
#define KRTLOGS_APP_SUMMARY_H_

#include <cstdint>
#include <string>
#include <vector>

struct SRunSummary {
  // `asked` for a run that takes every unit published.
  static constexpr int kAllUnits = -1;

  bool clearing = false;  // a -clear run: no entries, bytes or archive
  int asked = 0;          // units asked for (1 for a single unit)
  size_t found = 0;       // units discovery recorded
  // Fetching: units whose whole log was read and written to its text file.
  // Clearing: units whose log was emptied.
  size_t done = 0;
  size_t empty = 0;                 // fetching: units with no entries
  std::vector<std::string> failed;  // UnitLabel of each failed unit
  size_t incomplete = 0;  // fetching: of `failed`, units whose file fell short
  size_t not_tried = 0;   // clearing: units left after a stop
  uint64_t entries = 0;   // fetching: entries written
  uint64_t bytes = 0;     // fetching: bytes of log text written
  uint64_t dropped = 0;   // fetching: entries the units dropped uncollected
  std::string archive;    // full path; empty when none written
  uint64_t archive_bytes = 0;
  double seconds = 0;  // from the start of the run to the summary
};

// The line, without "\n".
std::string SummaryLine(const SRunSummary& summary);

#endif  // KRTLOGS_APP_SUMMARY_H_
