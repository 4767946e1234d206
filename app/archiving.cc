// Archiving: packs the text files of this run into one zip archive and
// removes them. The archive is written under a temporary name next to its
// final one and renamed only once it is complete, and the text files are
// removed only after that, so a failure at any point loses no log and leaves
// an earlier archive of the same name as it was.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "app/krt_log_extractor.h"
#include "zip/zip_archive.h"

namespace {

// Creates a new, empty file beside `archive` and returns its name.
std::string CreateTemporaryFile(const std::string& archive) {
  std::string prefix = archive + ".tmp" + std::to_string(getpid());
  for (int n = 0; n < 1000; ++n) {
    std::string name = prefix + (n == 0 ? "" : "." + std::to_string(n));
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) {
      throw std::runtime_error("cannot create " + name + ": " +
                               strerror(errno));
    }
  }
  throw std::runtime_error("cannot find a free temporary name beside " +
                           archive);
}

// A single archive, never split into volumes.
constexpr uint64_t kSingleVolume = 0;
// Deflate at zlib's default level.
constexpr int kDefaultLevel = -1;

// `files` holds pairs of a path to read and the entry's name.
void WriteArchive(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& files,
                  const std::function<void()>& opened) {
  CZipArchive zip;
  zip.Open(path, CZipArchive::zipCreate, kSingleVolume);
  opened();
  for (const auto& file : files) {
    bool added;
    try {
      added = zip.AddFile(file.first, file.second, kDefaultLevel,
                          CZipAddRequest::AddFlagDefault,
                          CZipAddRequest::kDefaultBufferSize);
    } catch (const std::exception& e) {
      // The writer names the archive; the technician needs the log file.
      throw std::runtime_error("cannot add " + file.first + ": " + e.what());
    }
    if (!added) throw std::runtime_error("cannot add " + file.first);
  }
  zip.Close(CZipArchive::afNoException, false);
}

}  // namespace

bool CKRTLogExtractor::ZipLogs(const std::string& archive) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const UnitOutcome& outcome : outcomes_) {
    if (outcome.status == UnitStatus::kOk) {
      files.emplace_back(InFolder(outcome.file), outcome.file);
    }
  }
  std::string temporary;
  try {
    if (files.size() > CZipArchive::kMaxEntries) {
      throw std::runtime_error(
          "a zip archive holds at most " +
          std::to_string(CZipArchive::kMaxEntries) +
          " entries, and this run "
          "has " +
          std::to_string(files.size()) +
          " log files; collect the "
          "units in smaller groups (-s, or -n on fewer units)");
    }
    temporary = CreateTemporaryFile(archive);
    WriteArchive(temporary, files,
                 [&] { Report("Zipping up log files to " + archive); });
    if (rename(temporary.c_str(), archive.c_str()) != 0) {
      throw std::runtime_error("cannot rename " + temporary + " to " + archive +
                               ": " + strerror(errno));
    }
  } catch (const std::exception& e) {
    if (!temporary.empty()) unlink(temporary.c_str());
    Report("Caught exception trying to zip up files");
    Diagnose(archive, e.what());
    return false;
  }
  bool removed = true;
  for (const auto& file : files) {
    if (unlink(file.first.c_str()) != 0) {
      Diagnose(file.first, std::string("cannot remove: ") + strerror(errno));
      removed = false;
    }
  }
  return removed;
}
