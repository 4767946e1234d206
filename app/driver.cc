#include "app/driver.h"

#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/archive_target.h"
#include "app/cout_listener.h"
#include "app/folder.h"
#include "app/krt_log_extractor.h"
#include "app/orb_scope.h"
#include "app/signals.h"
#include "app/text_escape.h"
#include "runtime/corba/orb.h"
#include "runtime/error/exception.h"

namespace {

constexpr uint32_t kMillisecondsPerSecond = 1000;

void Print(const std::string& line) { std::cout << line << std::endl; }

int Fetch(CKRTLogExtractor& extractor, const std::string& archive) {
  bool fetched = extractor.GetLogs();
  if (extractor.EveryUnitFailed()) {
    // An archive without a single log would replace an older one that may
    // be the only copy of what the units held.
    std::cerr << "krtlogs: no archive written: no unit's log could be read"
              << std::endl;
    return kExitFailure;
  }
  // The archive is made even when a unit failed: it keeps the logs of
  // every unit that answered.
  bool archived = extractor.ZipLogs(archive);
  return fetched && archived ? kExitSuccess : kExitFailure;
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
    std::cerr << "krtlogs: ignoring unknown argument '"
              << EscapeControlCharacters(argument) << "'" << std::endl;
  }
  const RunOptions& options = parsed.options;
  const bool fetching = !options.clear && !options.list;
  const std::time_t start = std::time(nullptr);

  // An interrupted run removes its unfinished files and keeps the rest.
  CInterruptWatcher watcher;
  // A fetching run owns its folder, and knows its archive's name, before it
  // contacts anything: a folder another run is using, or an archive that
  // must not be replaced, stops it here.
  std::unique_ptr<COutputFolder> folder;
  std::string archive;
  if (fetching) {
    try {
      folder.reset(new COutputFolder(options.output_dir));
      archive = ChooseArchiveName(
          *folder, options.single, options.address,
          options.stamp ? std::optional<std::time_t>(start) : std::nullopt);
      if (options.noclobber && folder->Exists(archive)) {
        std::cerr << "krtlogs: " << folder->PathOf(archive)
                  << " already exists and -noclobber keeps it; nothing was "
                     "done"
                  << std::endl;
        return kExitFailure;
      }
    } catch (const std::exception& e) {
      std::cerr << "krtlogs: " << EscapeControlCharacters(e.what())
                << std::endl;
      return kExitFailure;
    }
  }

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

  COrbScope orb;
  CCoutListener listener;
  CKRTLogExtractor extractor(&listener);
  CKRTLogExtractor::SFetchSettings settings;
  settings.jobs = options.jobs;
  settings.folder = folder.get();
  settings.timeout_seconds = options.timeout_seconds;
  settings.format = options.format;
  settings.sha256 = options.manifest;
  extractor.Configure(settings);

  if (options.single) {
    if (!extractor.FindKRT(options.address)) {
      Print("Failed to find KRT at " +
            EscapeControlCharacters(options.address));
      return kExitDiscoveryFailed;
    }
  } else {
    Print("Searching for " + std::to_string(options.count) + " KRTs ");
    if (!extractor.FindKRTs(options.count)) {
      Print("Failed to find all KRTs");
      return kExitDiscoveryFailed;
    }
  }
  // Discovery is done; from here on the calls go to the units.
  qo::corba::orb_t::set_round_trip_timeout(options.timeout_seconds *
                                           kMillisecondsPerSecond);

  if (options.list) {
    return extractor.ListUnits() ? kExitSuccess : kExitFailure;
  }
  if (options.clear) {
    return extractor.ClearLogs(options.keep_going) ? kExitSuccess
                                                   : kExitFailure;
  }
  return Fetch(extractor, archive);
}
