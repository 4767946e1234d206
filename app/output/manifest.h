// What an archive says about itself with -manifest: MANIFEST.json (the run
// and every unit, as JSON) and SHA256SUMS (a checksum line per log file, in
// the form `sha256sum -c` reads). Both are built from the run's plain
// records after the last unit is done. Plain functions, any thread.
#ifndef KRTLOGS_APP_OUTPUT_MANIFEST_H_
#define KRTLOGS_APP_OUTPUT_MANIFEST_H_

#include <chrono>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/output/unit_outcome.h"

// Names of the two entries in the archive, after the log files.
constexpr char kManifestName[] = "MANIFEST.json";
constexpr char kSha256SumsName[] = "SHA256SUMS";

// The run as a whole.
struct RunRecord {
  std::string tool = "krtlogs";
  std::string version;
  std::string host;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  std::vector<std::string> arguments;  // as given, program name excluded
  LogFormat format = LogFormat::kTsv;
};

// MANIFEST.json: one JSON object, members in this order (2-space indent):
//   tool, version, host, started, finished (UTC, "2026-12-08T22:15:00Z"),
//   arguments (array of strings), format ("tsv" or "jsonl"),
//   counts {ok, empty, failed}, units: one object per unit, in the order
//   given, with name, address, key, file (null unless ok), status,
//   reason (null unless failed, or ok with fewer entries than asked for),
//   range {first, end} (null when range never answered; end is one past
//   the unit's newest entry, so that "last" always names an entry itself),
//   since (the first index asked for when only new entries were asked
//   for, else null), dropped (entries the unit dropped after those an
//   earlier -since run collected, before this run could collect them; 0
//   without -since), first_index and last_index (of the entries in the
//   file; null when it has none), entries, bytes, sha256 (null when not
//   computed), seconds (to the millisecond).
// Texts that are not valid UTF-8 (a unit's key, an argument) are written
// by the rules of ToValidUtf8.
std::string ManifestJson(const RunRecord& run,
                         const std::vector<UnitOutcome>& units);

// SHA256SUMS: "<64 hex>  <file>\n" for every unit whose status is ok, in
// the order given. Throws qo::exception_t when such a unit has no SHA-256
// (the writer was not asked for one), rather than leave its file out.
std::string Sha256Sums(const std::vector<UnitOutcome>& units);

// `when` in UTC as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcIso8601(std::chrono::system_clock::time_point when);

// This host's name; "" when the system does not give one.
std::string LocalHostName();

#endif  // KRTLOGS_APP_OUTPUT_MANIFEST_H_
