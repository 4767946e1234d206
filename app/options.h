// The tool's options, read once from the command line into a plain record
// that the rest of the run only reads. The original options keep their
// forgiving rules (first occurrence counts, a value must not begin with "-",
// an unreadable count means 10); every newer option is strict: a missing or
// bad value is a usage error, reported before anything is contacted.
#ifndef KRTLOGS_APP_OPTIONS_H_
#define KRTLOGS_APP_OPTIONS_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// Exit statuses of a run.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure =
    1;                         // a unit, a file, the archive or a clear failed
constexpr int kExitUsage = 2;  // a bad command line; nothing was contacted
constexpr int kExitDiscoveryFailed = -1;  // seen by the shell as 255
// An interrupted run ends with 128 + the signal number (app/signals.h).

// Units to find when no count is given, or an unreadable one.
constexpr int kDefaultUnitCount = 10;

enum class LogFormat { kTsv, kJsonl };

// -follow: the newest entries of each unit printed before the new ones
// (-tail), and the seconds between two rounds of asking the units
// (-interval), no shorter than kMinFollowIntervalSeconds and no longer than
// kMaxFollowIntervalSeconds.
constexpr uint32_t kDefaultFollowTail = 10;
constexpr double kDefaultFollowIntervalSeconds = 1.0;
constexpr double kMinFollowIntervalSeconds = 0.1;
constexpr double kMaxFollowIntervalSeconds = 3600.0;

struct RunOptions {
  // What the original options ask for.
  bool counted = false;           // "-n"/"-N" given
  int count = kDefaultUnitCount;  // units to find in multi-unit mode
  bool single = false;            // "-s"/"-S" given
  std::string address;            // the unit of single mode (may be empty)
  bool clear = false;             // "-clear"/"-CLEAR"

  // Fleet control.
  int jobs = 1;                   // -j: units retrieved at once
  uint32_t timeout_seconds = 60;  // -timeout: per remote call, 0 = none
  std::string output_dir = ".";   // -o: where files and the archive go
  bool output_dir_given = false;
  bool list = false;        // -list: show the units, fetch nothing
  bool all = false;         // -all: every unit published
  bool partial = false;     // -partial: go on with the units found
  bool keep_going = false;  // -keep-going: clear past failed units

  // Plain talk.
  bool quiet = false;  // -q: no summary, no progress

  // Archive trust.
  bool manifest = false;  // -manifest: MANIFEST.json and SHA256SUMS
  LogFormat format = LogFormat::kTsv;  // -format tsv|jsonl
  bool since = false;                  // -since: only entries not yet collected
  bool stamp = false;                  // -stamp (implied by -since)
  bool noclobber = false;              // -noclobber
  // -keep: stamped archives of the run's series kept in the folder, the
  // new one included; 0 keeps them all.
  int keep = 0;
  // -metrics: the file the run's outcome is written to in the Prometheus
  // text format; empty: none.
  std::string metrics_file;

  // Following: print each unit's entries to standard output as they
  // arrive, until interrupted; nothing is written to files.
  bool follow = false;                 // -follow
  uint32_t tail = kDefaultFollowTail;  // -tail: entries shown first
  bool tail_given = false;
  double interval_seconds = kDefaultFollowIntervalSeconds;  // -interval
  bool interval_given = false;

  // The arguments as given, program name excluded (for the manifest).
  std::vector<std::string> arguments;
};

// What the command line asks the tool to do.
enum class Action { kRun, kHelp, kVersion, kUsageError };

struct ParsedCommandLine {
  Action action = Action::kRun;
  RunOptions options;
  std::string error;  // kUsageError: the one line to print, without newline
  // Arguments that are neither an option nor an option's value; named on
  // standard error and otherwise ignored.
  std::vector<std::string> unknown;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text printed for -h, -help and --help.
std::string UsageText();

// The tool's version, as the build gives it ("1.2.3").
const char* Version();

#endif  // KRTLOGS_APP_OPTIONS_H_
