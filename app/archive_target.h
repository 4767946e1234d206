// The archive's name and its arrival in the output folder.
//
// ChooseArchiveName gives the final name: "KRTLogs.zip", or
// "KRTLog_<address>.zip" for a single unit, and with a stamp the run's
// start time in UTC before ".zip" ("KRTLogs_20261208-221500Z.zip"), followed by
// "-2", "-3", ... when that name is already taken.
//
// CArchiveTarget is the archive being written: its constructor creates the
// temporary file the archive is written into (while the units are read),
// Claim checks, before the archive is said to be made, that its name can
// take a new archive at all, and Commit gives the complete archive that
// name. An older archive of that name is replaced
// only by Commit, so a run that fails or is interrupted before leaves it as
// it was; with a backup asked for, it is first kept under the next free GNU
// numbered backup name ("KRTLogs.zip.~1~", "KRTLogs.zip.~2~", ...).
//
// ReadStampedName tells the names ChooseArchiveName gives with a stamp
// from every other name, for -keep.
//
// One thread uses a target; the folder must outlive it.
#ifndef KRTLOGS_APP_ARCHIVE_TARGET_H_
#define KRTLOGS_APP_ARCHIVE_TARGET_H_

#include <ctime>
#include <optional>
#include <string>

#include "app/temp_file.h"

class COutputFolder;

// The archive's name for a multi-unit run (`single` false) or for the unit
// at `address`, without a stamp.
std::string BaseArchiveName(bool single, const std::string& address);

// The run's start time in UTC as it appears in stamped names,
// "YYYYMMDD-HHMMSSZ".
std::string StampText(std::time_t start);

// The name to write the archive under: BaseArchiveName, and with
// `stamp_start` the stamp and the first free number. Throws qo::exception_t
// when the name would not be a plain file name (an address holding "/"),
// qo::pos::exception_t when the folder cannot be read.
std::string ChooseArchiveName(const COutputFolder& folder, bool single,
                              const std::string& address,
                              const std::optional<std::time_t>& stamp_start);

// Returns `name` when it can take a new archive in `folder`; refuses, with
// the plain reason in a qo::exception_t (an errno one when the system gave
// the reason), when it is not a plain file name (an address holding "/"),
// a folder is in the way, or an older archive there is one this user could
// not write to (replacing it would overrule its owner).
const std::string& EnsureReplaceable(const COutputFolder& folder,
                                     const std::string& name);

// Where a stamped archive stands in its series: by its stamp, then by its
// number ("-2", "-3", ...; 1 for none). Names of one series sort in the
// order their runs started, names of one second in the order they were
// taken. Names without the "Z" (the local time, as earlier releases wrote
// them) were all written before the first UTC one and sort before it.
struct SStampedName {
  std::string stamp;  // "YYYYMMDD-HHMMSS", without the "Z"
  bool utc = true;    // the name has the "Z"
  unsigned number = 1;

  bool operator<(const SStampedName& other) const {
    if (utc != other.utc) return !utc;
    return stamp != other.stamp ? stamp < other.stamp : number < other.number;
  }
};

// True when `name` is exactly a name ChooseArchiveName gives with a stamp
// for the series of `base` (a BaseArchiveName): the base's stem, "_", a
// stamp that reads as a date and a time, "Z" (optional: earlier releases'
// local-time names), an optional "-N" (N from 2, no
// leading zero), ".zip"; then `out` gets its place. False for any other
// name, backups and temporaries included.
bool ReadStampedName(const std::string& base, const std::string& name,
                     SStampedName& out);

class CArchiveTarget {
 public:
  // Creates the temporary for an archive to be named `final_name`. Throws
  // qo::pos::exception_t when the folder does not let this user create it,
  // qo::exception_t for a name that is not a plain file name.
  CArchiveTarget(const COutputFolder& folder, const std::string& final_name);
  CArchiveTarget(const CArchiveTarget&) = delete;
  CArchiveTarget& operator=(const CArchiveTarget&) = delete;

  // Makes `name` the name Commit gives the archive, after checking it with
  // EnsureReplaceable; refuses as that does, changing nothing.
  void Claim(const std::string& name);

  // Where to write the archive until Commit.
  int fd() const { return file_.fd(); }
  std::string temp_path() const { return file_.path(); }
  const std::string& final_name() const { return file_.final_name(); }

  // Checks the name as Claim does, syncs the archive and gives it its name
  // (the one given to the constructor unless claimed). The new file takes the
  // permission bits of the regular file it replaces. With `keep_backup`
  // (some units of the run failed) an older entry of that name is first
  // kept as the next numbered backup, whose name (in the folder) is
  // returned; otherwise, or when there was none, the result is empty.
  // Throws qo::pos::exception_t naming the file; the older archive is then
  // still in place under its name.
  std::string Commit(bool keep_backup);

 private:
  std::string KeepBackup();

  const COutputFolder& folder_;
  CTempFile file_;
};

// The GNU numbered backup names of `name` are "name.~N~", N from 1. Returns
// N for such a name, 0 for any other.
unsigned BackupNumber(const std::string& name, const std::string& backup);

#endif  // KRTLOGS_APP_ARCHIVE_TARGET_H_
