#include "app/driver.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "app/cout_listener.h"
#include "app/krt_log_extractor.h"
#include "app/orb_scope.h"
#include "app/text_escape.h"
#include "runtime/corba/orb.h"
#include "runtime/error/exception.h"

namespace {

constexpr uint32_t kMillisecondsPerSecond = 1000;

void Print(const std::string& line) { std::cout << line << std::endl; }

// Creates `path` and its missing parents, as "mkdir -p" does.
void CreateFolder(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      throw qo::pos::exception_t("cannot create the folder " + part);
    }
    if (at == std::string::npos) break;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    throw qo::pos::exception_t("cannot use the folder " + path);
  }
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    throw qo::pos::exception_t("cannot use the folder " + path);
  }
}

// The archive's name as written and shown: in the output folder when one
// was given.
std::string ArchivePath(const RunOptions& options) {
  std::string name =
      options.single ? "KRTLog_" + options.address + ".zip" : "KRTLogs.zip";
  return options.output_dir_given ? options.output_dir + "/" + name : name;
}

int Fetch(CKRTLogExtractor& extractor, const RunOptions& options) {
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
  bool archived = extractor.ZipLogs(ArchivePath(options));
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

  if (fetching && options.output_dir_given) {
    try {
      CreateFolder(options.output_dir);
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
  settings.folder = options.output_dir;
  settings.timeout_seconds = options.timeout_seconds;
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
  return Fetch(extractor, options);
}
