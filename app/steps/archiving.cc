#include "app/steps/archiving.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <ostream>
#include <utility>
#include <vector>

#include "app/fetch/archive_feed.h"
#include "app/folder.h"
#include "app/output/manifest.h"
#include "app/progress.h"
#include "app/resources.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "zip/zip_archive.h"

namespace {

// Entries beside the log files with -manifest.
constexpr size_t kManifestEntries = 2;

// Adds `text` as the entry `name`, made now.
void AddText(CZipArchive& zip, const std::string& name, const std::string& text,
             uint32_t attributes) {
  std::vector<unsigned char> data;
  const CZipDeflatedEntry entry = CZipDeflatedEntry::CompressWhole(
      CArchiveFeed::kLevel, text.data(), text.size(), attributes,
      std::time(nullptr), data);
  if (!zip.AddCompressed(entry, name, data.data(), data.size())) {
    throw qo::exception_t("cannot add " + name);
  }
}

}  // namespace

void CArchiving::Report(const std::string& message) {
  io_.listener->OnMessage(message);
}

void CArchiving::Diagnose(const std::string& what, const std::string& reason) {
  *io_.diagnostics << "krtlogs: " << what << ": " << reason << std::endl;
}

bool CArchiving::Run(SFetchedLogs& fetched, const std::string& archive) {
  const COutputFolder& folder = *settings_.folder;
  const std::vector<UnitOutcome>& outcomes = fetched.outcomes;
  std::vector<std::string> files;
  bool some_failed = false;
  for (const UnitOutcome& outcome : outcomes) {
    if (outcome.status == UnitStatus::kOk) files.push_back(outcome.file);
    if (FellShort(outcome)) some_failed = true;
  }
  const size_t extra = settings_.manifest != nullptr ? kManifestEntries : 0;
  const std::string shown = folder.PathOf(archive);
  std::string backup;
  try {
    if (files.size() + extra > CZipArchive::kMaxEntries) {
      throw qo::exception_t(
          "a zip archive holds at most " +
          std::to_string(CZipArchive::kMaxEntries) + " entries, and this run " +
          "has " + std::to_string(files.size() + extra) + " files for it; " +
          "collect the units in smaller groups (-s, or -n on fewer units)");
    }
    if (!fetched.feed) {
      if (fetched.feed_failure) std::rethrow_exception(fetched.feed_failure);
      throw qo::exception_t("the archive was never begun");
    }
    CArchiveFeed& feed = *fetched.feed;
    // Refuses a name that cannot take the archive before anything is said.
    feed.target().Claim(archive);
    // The name holds the address as given to -s, which may hold control
    // characters; one event stays one line.
    Report("Zipping up log files to " + EscapeControlCharacters(shown));
    CZipArchive* zip;
    {
      CProgress progress(STDERR_FILENO, settings_.progress, [&feed] {
        const CArchiveFeed::SCounts c = feed.counts();
        return CProgress::SCompression{c.logs, c.logs_done, c.bytes,
                                       c.bytes_done};
      });
      zip = &feed.Complete();
    }
    if (settings_.manifest != nullptr) {
      settings_.manifest->finished = std::chrono::system_clock::now();
      AddText(*zip, kManifestName, ManifestJson(*settings_.manifest, outcomes),
              feed.file_attributes());
      AddText(*zip, kSha256SumsName, Sha256Sums(outcomes),
              feed.file_attributes());
    }
    zip->Close(CZipArchive::afNoException, false);
    // An archive without a single log file (every unit empty, as right
    // after a clear) must not take the place of an older one that may be
    // the only copy of those logs: keep that one too.
    backup = feed.target().Commit(some_failed || files.empty());
  } catch (const std::exception& e) {
    Report("Caught exception trying to zip up files");
    Diagnose(shown, FailureWords(e));
    fetched.feed.reset();
    return false;
  }
  fetched.feed.reset();
  if (!backup.empty()) {
    *io_.diagnostics << "krtlogs: the older " << shown << " is kept as "
                     << folder.PathOf(backup) << std::endl;
  }
  bool removed = true;
  for (const std::string& file : files) {
    // A file someone else removed meanwhile is no loss: the archive holds
    // it as it was written.
    if (unlinkat(folder.fd(), file.c_str(), 0) != 0 && errno != ENOENT) {
      Diagnose(folder.PathOf(file),
               qo::pos::exception_t("cannot remove").what());
      removed = false;
    }
  }
  return removed;
}
