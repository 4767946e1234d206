#include "app/steps/fetching.h"

#include <unistd.h>

#include <thread>

#include "app/fetch/archive_feed.h"
#include "app/fetch/ordered_output.h"
#include "app/fetch/unit_fetch.h"
#include "app/fetch/unit_runner.h"
#include "app/output/log_writer.h"
#include "app/progress.h"
#include "app/resources.h"
#include "app/unit_names.h"
#include "runtime/error/exception.h"
#include "zip/zip_compression_pool.h"

SFetchedLogs::SFetchedLogs() = default;
SFetchedLogs::~SFetchedLogs() { feed.reset(); }

std::vector<std::string> CFetching::LogFileNames(const UnitList& units,
                                                 LogFormat format) {
  std::vector<std::string> files;
  CUnitNames names;
  for (const SKRTRecord& unit : units) {
    files.push_back(LogFileName(format, names.Take(unit)));
  }
  return files;
}

std::unique_ptr<SFetchedLogs> CFetching::Run(const UnitList& units) {
  const std::vector<std::string> files =
      LogFileNames(units, settings_.options->format);
  const std::vector<const SKRTRecord*> indexed = IndexedUnits(units);
  auto fetched = std::make_unique<SFetchedLogs>();
  fetched->outcomes.assign(indexed.size(), UnitOutcome());
  const int workers =
      settings_.compression_workers > 0
          ? settings_.compression_workers
          : static_cast<int>(std::thread::hardware_concurrency());
  try {
    try {
      fetched->pool = std::make_unique<CZipCompressionPool>(workers);
    } catch (const CZipException& e) {
      const std::string shortage =
          ShortageWords(e.m_iCause, /*starting_thread=*/true);
      if (shortage.empty()) throw;
      throw qo::exception_t("cannot start the compression's threads: " +
                            shortage);
    }
    fetched->feed = std::make_unique<CArchiveFeed>(
        *settings_.folder, settings_.archive, indexed.size(), *fetched->pool);
  } catch (...) {
    // The logs are still read into their files; archiving says why there
    // is no archive.
    fetched->feed_failure = std::current_exception();
    fetched->feed.reset();
  }
  CProgress progress(STDERR_FILENO, settings_.progress, indexed.size());
  {
    COrderedOutput out(io_.listener, *io_.diagnostics, indexed.size(),
                       &progress);
    const CUnitFetch fetch(io_, settings_, out, progress, fetched->feed.get());
    RunForEachUnit(indexed.size(), settings_.options->jobs, [&](size_t i) {
      fetched->outcomes[i] = fetch.Run(*indexed[i], files[i], i);
      out.Finish(i);
    });
  }
  progress.Finish();
  return fetched;
}
