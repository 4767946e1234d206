// Archiving: packs the log files of this run into one zip archive and
// removes them. The archive is written under a temporary name in the output
// folder and takes its final name only once it is complete (an older
// archive of that name is kept as a numbered backup when units failed), and
// the log files are removed only after that, so a failure at any point
// loses no log and leaves an older archive as it was.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <ostream>
#include <stdexcept>

#include "app/archive_target.h"
#include "app/folder.h"
#include "app/krt_log_extractor.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "zip/zip_archive.h"

namespace {

// A single archive, never split into volumes.
constexpr uint64_t kSingleVolume = 0;
// Deflate at zlib's default level.
constexpr int kDefaultLevel = -1;

struct SEntry {
  std::string path;  // the file to read
  std::string name;  // its name in the archive
};

void WriteArchive(const std::string& path, const std::vector<SEntry>& entries,
                  const std::function<void()>& opened) {
  CZipArchive zip;
  zip.Open(path, CZipArchive::zipCreate, kSingleVolume);
  opened();
  for (const SEntry& entry : entries) {
    bool added;
    try {
      added = zip.AddFile(entry.path, entry.name, kDefaultLevel,
                          CZipAddRequest::AddFlagDefault,
                          CZipAddRequest::kDefaultBufferSize);
    } catch (const std::exception& e) {
      // The writer names the archive; the technician needs the log file.
      throw qo::exception_t("cannot add " + entry.path + ": " + e.what());
    }
    if (!added) throw qo::exception_t("cannot add " + entry.path);
  }
  zip.Close(CZipArchive::afNoException, false);
}

}  // namespace

bool CKRTLogExtractor::ZipLogs(const std::string& archive) {
  const COutputFolder& folder = Folder();
  std::vector<SEntry> entries;
  bool some_failed = false;
  for (const UnitOutcome& outcome : outcomes_) {
    if (outcome.status == UnitStatus::kOk) {
      entries.push_back({folder.PathOf(outcome.file), outcome.file});
    }
    if (outcome.status == UnitStatus::kFailed || IsIncomplete(outcome)) {
      some_failed = true;
    }
  }
  const std::string shown = folder.PathOf(archive);
  std::string backup;
  try {
    if (entries.size() > CZipArchive::kMaxEntries) {
      throw qo::exception_t(
          "a zip archive holds at most " +
          std::to_string(CZipArchive::kMaxEntries) + " entries, and this run " +
          "has " + std::to_string(entries.size()) + " log files; collect " +
          "the units in smaller groups (-s, or -n on fewer units)");
    }
    // Refuses a name that cannot take the archive before anything is said
    // or written.
    CArchiveTarget target(folder, archive);
    // The name holds the address as given to -s, which may hold control
    // characters; one event stays one line.
    WriteArchive(target.temp_path(), entries, [&] {
      Report("Zipping up log files to " + EscapeControlCharacters(shown));
    });
    backup = target.Commit(some_failed);
  } catch (const std::exception& e) {
    Report("Caught exception trying to zip up files");
    Diagnose(shown, e.what());
    return false;
  }
  if (!backup.empty()) {
    diagnostics_ << "krtlogs: the older " << shown << " is kept as "
                 << folder.PathOf(backup) << std::endl;
  }
  bool removed = true;
  for (const SEntry& entry : entries) {
    if (unlinkat(folder.fd(), entry.name.c_str(), 0) != 0) {
      Diagnose(entry.path, qo::pos::exception_t("cannot remove").what());
      removed = false;
    }
  }
  return removed;
}
