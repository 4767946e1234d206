// Archiving: packs the log files of this run into one zip archive and
// removes them. The entries were compressed while the units were read, so
// making the archive mostly copies bytes. The archive is written under a
// temporary name in the output folder and takes its final name only once
// it is complete (an older archive of that name is kept as a numbered
// backup when units failed), and the log files are removed only after
// that, so a failure at any point loses no log and leaves an older archive
// as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <ostream>
#include <thread>

#include "app/archive_target.h"
#include "app/fetch/compression_stage.h"
#include "app/folder.h"
#include "app/krt_log_extractor.h"
#include "app/output/file_io.h"
#include "app/output/manifest.h"
#include "app/temp_file.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "zip/zip_archive.h"
#include "zip/zip_compression_pool.h"

namespace {

// A single archive, never split into volumes.
constexpr uint64_t kSingleVolume = 0;
// Entries beside the log files with -manifest.
constexpr size_t kManifestEntries = 2;

// Raises the writer's refusal to add an entry as an exception naming it.
void Added(bool added, const std::string& path) {
  if (!added) throw qo::exception_t("cannot add " + path);
}

// Adds `text` as the entry `name`, through a scratch file of the folder.
void AddText(CZipArchive& zip, const COutputFolder& folder,
             const std::string& name, const std::string& text) {
  CTempFile scratch(folder, name, CTempFile::Purpose::kScratch);
  WriteAll(scratch.fd(), text.data(), text.size(), scratch.path());
  Added(zip.AddFile(scratch.path(), name, CCompressionStage::kDefaultLevel,
                    CZipAddRequest::AddFlagDefault,
                    CZipAddRequest::kDefaultBufferSize),
        name);
}

// Whether the file at `path` is still the one `entry` was compressed from:
// the archive holds the log files as they are in the folder, so a file
// that changed or vanished since is read again.
bool Unchanged(const std::string& path, const CZipDeflatedEntry& entry) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 &&
         static_cast<uint64_t>(st.st_size) == entry.m_uUncomprSize &&
         st.st_mtime == entry.m_tModTime;
}

}  // namespace

bool CKRTLogExtractor::ZipLogs(const std::string& archive) {
  const COutputFolder& folder = Folder();
  // What each unit's log file is: its index among the units and its name.
  std::vector<std::pair<size_t, std::string>> files;
  bool some_failed = false;
  for (size_t i = 0; i < outcomes_.size(); ++i) {
    const UnitOutcome& outcome = outcomes_[i];
    if (outcome.status == UnitStatus::kOk) files.emplace_back(i, outcome.file);
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
    // Refuses a name that cannot take the archive before anything is said
    // or written.
    CArchiveTarget target(folder, archive);
    // A pool for files the compression stage could not take (or when no
    // GetLogs ran).
    std::unique_ptr<CZipCompressionPool> own_pool;
    auto pool = [&]() -> CZipCompressionPool& {
      if (compression_) return compression_->pool();
      if (!own_pool) {
        own_pool.reset(new CZipCompressionPool(
            static_cast<int>(std::thread::hardware_concurrency())));
      }
      return *own_pool;
    };
    CZipArchive zip;
    zip.Open(target.temp_path(), CZipArchive::zipCreate, kSingleVolume);
    // The name holds the address as given to -s, which may hold control
    // characters; one event stays one line.
    Report("Zipping up log files to " + EscapeControlCharacters(shown));
    for (const auto& file : files) {
      const std::string path = folder.PathOf(file.second);
      CCompressionStage::SResult compressed;
      if (compression_) compressed = compression_->Take(file.first);
      try {
        if (compressed.ready && Unchanged(path, compressed.entry)) {
          Added(zip.AddDeflated(compressed.entry, compressed.scratch->path(),
                                file.second),
                path);
        } else {
          // Not compressed beforehand (or that failed): compress it now.
          Added(zip.AddFileParallel(path, file.second,
                                    CCompressionStage::kDefaultLevel, pool()),
                path);
        }
      } catch (const std::exception& e) {
        // The writer names the archive; the technician needs the log file.
        throw qo::exception_t("cannot add " + path + ": " + e.what());
      }
    }
    if (settings_.manifest != nullptr) {
      settings_.manifest->finished = std::chrono::system_clock::now();
      AddText(zip, folder, kManifestName,
              ManifestJson(*settings_.manifest, outcomes_));
      AddText(zip, folder, kSha256SumsName, Sha256Sums(outcomes_));
    }
    zip.Close(CZipArchive::afNoException, false);
    // An archive without a single log file (every unit empty, as right
    // after a clear) must not take the place of an older one that may be
    // the only copy of those logs: keep that one too.
    backup = target.Commit(some_failed || files.empty());
  } catch (const std::exception& e) {
    Report("Caught exception trying to zip up files");
    Diagnose(shown, e.what());
    compression_.reset();
    return false;
  }
  compression_.reset();
  if (!backup.empty()) {
    diagnostics_ << "krtlogs: the older " << shown << " is kept as "
                 << folder.PathOf(backup) << std::endl;
  }
  bool removed = true;
  for (const auto& file : files) {
    if (unlinkat(folder.fd(), file.second.c_str(), 0) != 0) {
      const std::string path = folder.PathOf(file.second);
      Diagnose(path, qo::pos::exception_t("cannot remove").what());
      removed = false;
    }
  }
  return removed;
}
