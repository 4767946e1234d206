#include "app/driver.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/archive_target.h"
#include "app/call_limits.h"
#include "app/folder.h"
#include "app/follow/follow_output.h"
#include "app/internal/cout_listener.h"
#include "app/krt_log_extractor.h"
#include "app/orb_scope.h"
#include "app/output/manifest.h"
#include "app/output/metrics.h"
#include "app/output/since_state.h"
#include "app/progress.h"
#include "app/reasons.h"
#include "app/resources.h"
#include "app/signals.h"
#include "app/stdout_lines.h"
#include "app/steps/retention.h"
#include "app/summary.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "runtime/pos/ip_address.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

void Print(const std::string& line) { PrintLine(line); }

void Warn(const std::string& text) {
  std::cerr << "krtlogs: " << EscapeControlCharacters(text) << std::endl;
}

// Erases a progress line when an interrupt ends the run: one write, no
// lock, as the watcher's hook must be.
void EraseStatusLine() {
  static const char kErase[] = "\r\x1b[K";
  ssize_t ignored = write(STDERR_FILENO, kErase, sizeof(kErase) - 1);
  (void)ignored;
}

// How long an interrupt waits for the line being written to standard
// output while following.
constexpr int kLastLineWaitMs = 1000;

// Standard output while following; it outlives the run and the interrupt
// watcher, which seals it.
CFollowOutput& FollowOutput() {
  static CFollowOutput out(STDOUT_FILENO);
  return out;
}

// What a fetching run holds before it contacts anything: its folder (and
// with it the folder's lock), its archive's name, what -since knows and
// what -manifest will say.
struct SFetchPlan {
  std::unique_ptr<COutputFolder> folder;
  std::string archive;
  std::optional<CSinceState> since;
  RunRecord run;
  std::unique_ptr<CMetricsFile> metrics;  // with -metrics
  std::vector<SMetricsUnit> units;        // each unit's outcome, for it
};

// Takes the folder and decides the archive's name; false (reason on
// standard error) when the run must stop before contacting anything.
bool PrepareFetch(const RunOptions& options, std::time_t start,
                  SFetchPlan& plan) {
  try {
    plan.folder.reset(new COutputFolder(options.output_dir));
    plan.archive = ChooseArchiveName(
        *plan.folder, options.single, options.address,
        options.stamp ? std::optional<std::time_t>(start) : std::nullopt);
    if (options.noclobber && plan.folder->Exists(plan.archive)) {
      Warn(plan.folder->PathOf(plan.archive) +
           " already exists and -noclobber keeps it; nothing was done");
      return false;
    }
    // An older archive the run could not replace stops it here, before a
    // unit is asked for a log that no archive could keep.
    EnsureReplaceable(*plan.folder, plan.archive);
    if (!options.metrics_file.empty()) {
      plan.metrics.reset(new CMetricsFile(options.metrics_file));
    }
    if (options.since) {
      plan.since = CSinceState::Load(*plan.folder);
      if (!plan.since->problem().empty()) {
        Warn(plan.since->problem() + "; collecting every unit's whole log");
      }
    }
  } catch (const std::exception& e) {
    Warn(FailureWords(e));
    return false;
  }
  plan.run.version = Version();
  plan.run.host = LocalHostName();
  plan.run.started = std::chrono::system_clock::from_time_t(start);
  plan.run.arguments = options.arguments;
  plan.run.format = options.format;
  return true;
}

// Records what the units of an archived run gave, replacing the state file
// atomically; false (reason on standard error) when it cannot be written.
bool SaveSinceState(CSinceState& state, const std::vector<UnitOutcome>& units,
                    const COutputFolder& folder) {
  state.Update(units, std::chrono::system_clock::now());
  try {
    state.Save(folder);
  } catch (const std::exception& e) {
    Warn(FailureWords(e) +
         "; the next -since run asks the units again "
         "for what this one collected");
    return false;
  }
  return true;
}

// The archive's full path and size, for the summary.
void DescribeArchive(const COutputFolder& folder, const std::string& name,
                     SRunSummary& summary) {
  const std::string path = folder.PathOf(name);
  char full[PATH_MAX];
  summary.archive = realpath(path.c_str(), full) != nullptr ? full : path;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    summary.archive_bytes = static_cast<uint64_t>(st.st_size);
  }
}

void SummariseFetch(const CKRTLogExtractor& extractor, SRunSummary& summary,
                    std::vector<SMetricsUnit>& units) {
  size_t index = 0;
  for (const SKRTRecord& unit : extractor.units()) {
    const UnitOutcome& outcome = extractor.outcomes().at(index++);
    summary.entries += outcome.written.entries;
    summary.bytes += outcome.written.bytes;
    summary.dropped += DroppedEntries(outcome);
    units.push_back(SMetricsUnit{"KRT" + unit.name,
                                 qo::pos::dotted_address(unit.address),
                                 !FellShort(outcome), DroppedEntries(outcome)});
    if (outcome.status == UnitStatus::kEmpty) {
      ++summary.empty;
    } else if (outcome.status == UnitStatus::kFailed) {
      summary.failed.push_back(UnitLabel(unit));
    } else if (IsIncomplete(outcome)) {
      summary.failed.push_back(UnitLabel(unit) + " incomplete");
      ++summary.incomplete;
    } else {
      ++summary.done;
    }
  }
}

// Writes the run's metrics; the exit status to give: a run whose metrics
// are lost fails, as whatever watches them would not see it.
int WriteMetrics(const SRunSummary& summary, std::time_t start, int status,
                 SFetchPlan& plan) {
  SMetricsRun run;
  run.asked = summary.asked;
  run.found = summary.found;
  run.collected = summary.done;
  run.empty = summary.empty;
  for (const SMetricsUnit& unit : plan.units) {
    if (!unit.collected) ++run.failed;
  }
  run.incomplete = summary.incomplete;
  run.failed -= run.incomplete;
  run.entries = summary.entries;
  run.bytes = summary.bytes;
  run.dropped = summary.dropped;
  run.archive_bytes = summary.archive_bytes;
  run.seconds = summary.seconds;
  run.exit_status = status & 0xFF;
  run.started = start;
  run.units = std::move(plan.units);
  try {
    plan.metrics->Write(MetricsText(run, plan.metrics->history()));
  } catch (const std::exception& e) {
    Warn(FailureWords(e));
    return status == kExitSuccess ? kExitFailure : status;
  }
  return status;
}

// Discovery as the options ask for it, with its lines. False when the run
// cannot go on; `partial` is set when it goes on with fewer units.
bool Discover(CKRTLogExtractor& extractor, const RunOptions& options,
              bool& partial) {
  if (options.single) {
    if (extractor.FindKRT(options.address)) return true;
    Print("Failed to find KRT at " + EscapeControlCharacters(options.address));
    return false;
  }
  if (options.all) {
    Print("Searching for all KRTs ");
    if (extractor.FindAllKRTs()) return true;
    Print("Failed to find any KRT");
    return false;
  }
  Print("Searching for " + std::to_string(options.count) + " KRTs ");
  if (extractor.FindKRTs(options.count)) return true;
  Print("Failed to find all KRTs");
  if (options.partial && extractor.discovery().found > 0) {
    partial = true;
    return true;
  }
  return false;
}

// The run from the ORB's start to its stop, with a status line on standard
// error when `progress`; the summary is filled as far as the run got.
int RunWithOrb(const RunOptions& options, bool progress, SFetchPlan& plan,
               SRunSummary& summary) {
  COrbScope orb;
  CCoutListener listener;
  CKRTLogExtractor extractor(&listener);
  const CCallLimits limits(options.timeout_seconds);
  // The options as the steps read them; -j may be lowered below.
  RunOptions run_options = options;
  CKRTLogExtractor::SFetchSettings settings;
  settings.options = &run_options;
  settings.limits = &limits;
  settings.folder = plan.folder.get();
  settings.archive = plan.archive;
  settings.progress = progress;
  settings.manifest = options.manifest ? &plan.run : nullptr;
  settings.since = plan.since ? &*plan.since : nullptr;
  extractor.Configure(settings);

  bool partial = false;
  const bool found = Discover(extractor, options, partial);
  summary.found = extractor.units().size();
  if (!found) return kExitDiscoveryFailed;
  // The units read at once stay within the descriptors the limit leaves,
  // so that no unit is lost to the host's limit.
  const int jobs = static_cast<int>(std::min<size_t>(
      static_cast<size_t>(options.jobs), std::max<size_t>(summary.found, 1)));
  if (!options.clear && jobs > 1) {
    std::string warning;
    run_options.jobs = JobsWithinDescriptorLimit(jobs, warning);
    if (!warning.empty()) Warn(warning);
  }

  if (options.follow) {
    // Ends only when standard output closes (or a signal ends the
    // process): at once, like an interrupt, without waiting for a unit
    // that hangs.
    extractor.FollowLogs(FollowOutput(), [] {
      std::cerr.flush();
      _exit(kExitSuccess);
    });
    return kExitSuccess;
  }

  bool succeeded;
  if (options.list) {
    succeeded = extractor.ListUnits();
  } else if (options.clear) {
    succeeded = extractor.ClearLogs();
    summary.done = extractor.clearing().cleared;
    summary.failed = extractor.clearing().failed;
    summary.not_tried = extractor.clearing().not_tried;
  } else {
    bool fetched = extractor.GetLogs();
    SummariseFetch(extractor, summary, plan.units);
    if (extractor.EveryUnitFailed()) {
      // An archive without a single log would replace an older one that
      // may be the only copy of what the units held.
      Warn("no archive written: no unit's log could be read");
      return kExitFailure;
    }
    // The archive is made even when a unit failed: it keeps the logs of
    // every unit that answered.
    bool archived = extractor.ZipLogs(plan.archive);
    if (archived) {
      DescribeArchive(*plan.folder, plan.archive, summary);
      if (plan.since &&
          !SaveSinceState(*plan.since, extractor.outcomes(), *plan.folder)) {
        archived = false;
      }
      // Only once the new archive has its name may older ones go.
      if (options.keep > 0) {
        CRetention retention(*plan.folder, std::cerr, options.quiet);
        if (!retention.Run(BaseArchiveName(options.single, options.address),
                           plan.archive, options.keep)) {
          archived = false;
        }
      }
    }
    succeeded = fetched && archived;
  }
  return succeeded && !partial ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunKrtLogs(int argc, const char* const* argv) {
  ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  switch (parsed.action) {
    case Action::kHelp:
      std::cout << UsageText() << std::flush;
      return kExitSuccess;
    case Action::kVersion:
      Print(std::string("krtlogs ") + Version());
      return kExitSuccess;
    case Action::kUsageError:
      std::cerr << parsed.error << std::endl;
      return kExitUsage;
    case Action::kRun:
      break;
  }
  for (const std::string& argument : parsed.unknown) {
    Warn("ignoring unknown argument '" + argument + "'");
  }
  const RunOptions& options = parsed.options;
  if (options.follow) {
    // Standard output carries the units' entries and nothing else; a
    // closed pipe ends the run quietly instead of killing it.
    SendLinesToStandardError();
    signal(SIGPIPE, SIG_IGN);
  }
  const bool fetching = !options.clear && !options.list && !options.follow;
  const bool progress =
      fetching && CProgress::Wanted(STDERR_FILENO, options.quiet);
  const std::time_t start = std::time(nullptr);
  const SteadyClock::time_point started = SteadyClock::now();

  // An interrupted run removes its unfinished files and keeps the rest.
  CInterruptWatcher watcher;
  if (progress) watcher.SetBeforeMessage(EraseStatusLine);
  if (options.follow) {
    watcher.SetQuietEnd([] { FollowOutput().Seal(kLastLineWaitMs); });
  }
  // A fetching run owns its folder, and knows its archive's name, before
  // it contacts anything: a folder another run is using, or an archive
  // that must not be replaced, stops it here.
  SFetchPlan plan;
  if (fetching && !PrepareFetch(options, start, plan)) return kExitFailure;

  if (options.counted) {
    Print("Searching for " + std::to_string(options.count) + " KRTs");
  }
  if (options.all) Print("Searching for all KRTs");
  if (!options.counted && !options.single && !options.all) {
    Print("Using default 10 KRTs");
  }
  if (options.single) {
    Print("Searching for single KRT at " +
          EscapeControlCharacters(options.address));
  }

  SRunSummary summary;
  summary.clearing = options.clear;
  summary.asked = options.all      ? SRunSummary::kAllUnits
                  : options.single ? 1
                                   : options.count;
  int status = RunWithOrb(options, progress, plan, summary);
  summary.seconds =
      std::chrono::duration<double>(SteadyClock::now() - started).count();
  if (!options.list && !options.follow && !options.quiet) {
    std::cerr << SummaryLine(summary) << std::endl;
  }
  if (plan.metrics) status = WriteMetrics(summary, start, status, plan);
  // A listing is the run's only product: one that did not reach standard
  // output is a failed run. (Fetching and clearing leave the archive and
  // the units as their product.)
  if (options.list && !StdoutFailure().empty()) {
    Warn("cannot write the listing to standard output: " + StdoutFailure());
    if (status == kExitSuccess) status = kExitFailure;
  }
  return status;
}
