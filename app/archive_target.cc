#include "app/archive_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/folder.h"
#include "runtime/error/exception.h"

namespace {

constexpr char kMultiName[] = "KRTLogs";
constexpr char kSinglePrefix[] = "KRTLog_";
constexpr char kExtension[] = ".zip";
constexpr char kStampFormat[] = "%Y%m%d-%H%M%SZ";
// The stamp with its "Z"; names of releases before it carried the local
// time without one ("YYYYMMDD-HHMMSS") and are still read, for -keep.
constexpr size_t kStampSize = sizeof("YYYYMMDD-HHMMSSZ");
constexpr size_t kLocalStampSize = sizeof("YYYYMMDD-HHMMSS");
constexpr char kBackupOpen[] = ".~";
constexpr char kBackupClose = '~';
// Backup numbers beyond this are not ours to count.
constexpr size_t kMaxBackupDigits = 9;
// Stamped names tried before the folder is called unusable.
constexpr unsigned kMaxStampNumber = 100000;
constexpr mode_t kPermissionBits = 0777;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

const std::string& EnsureReplaceable(const COutputFolder& folder,
                                     const std::string& name) {
  EnsurePlainFileName(name);
  std::string what = folder.PathOf(name);
  struct stat st;
  if (fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return name;
    throw qo::pos::exception_t("cannot look at " + what);
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    throw qo::pos::exception_t("cannot write the archive " + what);
  }
  // The archive used to be written in place: a file its owner made
  // read-only for this user stays as it is.
  if (S_ISREG(st.st_mode) &&
      faccessat(folder.fd(), name.c_str(), W_OK, AT_EACCESS) != 0) {
    throw qo::pos::exception_t("the older archive " + what +
                               " cannot be replaced by this user");
  }
  return name;
}

std::string BaseArchiveName(bool single, const std::string& address) {
  return single ? kSinglePrefix + address + kExtension
                : kMultiName + std::string(kExtension);
}

std::string StampText(std::time_t start) {
  struct tm utc;
  char text[kStampSize];
  if (gmtime_r(&start, &utc) == nullptr ||
      strftime(text, sizeof(text), kStampFormat, &utc) == 0) {
    throw qo::exception_t("cannot write the start time " +
                          std::to_string(start) + " as a stamp");
  }
  return text;
}

std::string ChooseArchiveName(const COutputFolder& folder, bool single,
                              const std::string& address,
                              const std::optional<std::time_t>& stamp_start) {
  std::string base = BaseArchiveName(single, address);
  EnsurePlainFileName(base);
  if (!stamp_start) return base;
  std::string stem = base.substr(0, base.size() - (sizeof(kExtension) - 1)) +
                     "_" + StampText(*stamp_start);
  std::string name = stem + kExtension;
  for (unsigned n = 2; folder.Exists(name); ++n) {
    qo::ensure(n <= kMaxStampNumber,
               "no free archive name for " + folder.PathOf(stem + kExtension));
    name = stem + "-" + std::to_string(n) + kExtension;
  }
  return name;
}

namespace {

// The number that the `width` digits of `text` at `at` give, or -1 when one
// of them is not a digit.
int Digits(const std::string& text, size_t at, size_t width) {
  int value = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Whether `stamp` ("YYYYMMDD-HHMMSS", the "Z" taken off) reads as a date
// and a time.
bool IsStamp(const std::string& stamp) {
  if (stamp.size() != kLocalStampSize - 1 || stamp[8] != '-') return false;
  const int year = Digits(stamp, 0, 4);
  const int month = Digits(stamp, 4, 2);
  const int day = Digits(stamp, 6, 2);
  const int hour = Digits(stamp, 9, 2);
  const int minute = Digits(stamp, 11, 2);
  const int second = Digits(stamp, 13, 2);
  // 60: a leap second, as strftime may write it.
  return year >= 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
         hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 60;
}

}  // namespace

bool ReadStampedName(const std::string& base, const std::string& name,
                     SStampedName& out) {
  const size_t extension = sizeof(kExtension) - 1;
  if (base.size() <= extension) return false;
  const std::string head = base.substr(0, base.size() - extension) + "_";
  const size_t stamp_size = kLocalStampSize - 1;
  if (name.size() < head.size() + stamp_size + extension ||
      name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - extension, extension, kExtension) != 0) {
    return false;
  }
  SStampedName read;
  read.stamp = name.substr(head.size(), stamp_size);
  if (!IsStamp(read.stamp)) return false;
  std::string tail =
      name.substr(head.size() + stamp_size,
                  name.size() - head.size() - stamp_size - extension);
  read.utc = !tail.empty() && tail[0] == 'Z';
  if (read.utc) tail.erase(0, 1);
  if (!tail.empty()) {
    // "-N": what ChooseArchiveName counts up to, without leading zeros.
    const std::string digits = tail.substr(1);
    if (tail[0] != '-' || digits.empty() || digits.size() > 6 ||
        digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    read.number = static_cast<unsigned>(std::stoul(digits));
    if (read.number < 2 || read.number > kMaxStampNumber) return false;
  }
  out = read;
  return true;
}

unsigned BackupNumber(const std::string& name, const std::string& backup) {
  std::string open = name + kBackupOpen;
  if (backup.size() < open.size() + 2 || backup.compare(0, open.size(), open) ||
      backup.back() != kBackupClose) {
    return 0;
  }
  std::string digits =
      backup.substr(open.size(), backup.size() - open.size() - 1);
  if (digits.size() > kMaxBackupDigits ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return static_cast<unsigned>(std::stoul(digits));
}

CArchiveTarget::CArchiveTarget(const COutputFolder& folder,
                               const std::string& final_name)
    : folder_(folder),
      file_(folder, final_name, CTempFile::Purpose::kArchive) {}

void CArchiveTarget::Claim(const std::string& name) {
  file_.SetFinalName(EnsureReplaceable(folder_, name));
}

std::string CArchiveTarget::Commit(bool keep_backup) {
  // Again: the name may have changed hands since it was claimed.
  const std::string& name = EnsureReplaceable(folder_, file_.final_name());
  std::string what = folder_.PathOf(name);
  std::string backup;
  struct stat older;
  if (fstatat(folder_.fd(), name.c_str(), &older, AT_SYMLINK_NOFOLLOW) == 0) {
    // By name: a commit that failed before has closed the descriptor.
    if (S_ISREG(older.st_mode) &&
        fchmodat(folder_.fd(), file_.temp_name().c_str(),
                 older.st_mode & kPermissionBits, 0) != 0) {
      throw qo::pos::exception_t("cannot set the permissions of " + what);
    }
    if (keep_backup) backup = KeepBackup();
  } else if (errno != ENOENT) {
    throw qo::pos::exception_t("cannot look at " + what);
  }
  file_.Commit(CTempFile::Durability::kSynced);
  return backup;
}

std::string CArchiveTarget::KeepBackup() {
  const std::string& name = file_.final_name();
  unsigned highest = 0;
  int dup_fd = fcntl(folder_.fd(), F_DUPFD_CLOEXEC, 0);
  std::unique_ptr<DIR, DirCloser> dir(dup_fd < 0 ? nullptr : fdopendir(dup_fd));
  if (!dir) {
    if (dup_fd >= 0) close(dup_fd);
    throw qo::pos::exception_t("cannot read " + folder_.Description());
  }
  rewinddir(dir.get());
  while (dirent* entry = readdir(dir.get())) {
    unsigned n = BackupNumber(name, entry->d_name);
    if (n > highest) highest = n;
  }
  // A hard link keeps the older archive under both names until the new
  // one replaces it, so the name is never without an archive. A file
  // system without hard links gets a rename that refuses to replace.
  for (unsigned n = highest + 1;; ++n) {
    std::string backup = name + kBackupOpen + std::to_string(n) + kBackupClose;
    if (linkat(folder_.fd(), name.c_str(), folder_.fd(), backup.c_str(), 0) ==
        0) {
      return backup;
    }
    if (errno == EEXIST) continue;
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
      if (renameat2(folder_.fd(), name.c_str(), folder_.fd(), backup.c_str(),
                    RENAME_NOREPLACE) == 0) {
        return backup;
      }
      if (errno == EEXIST) continue;
    }
    throw qo::pos::exception_t("cannot keep the older archive " +
                               folder_.PathOf(name) + " as " +
                               folder_.PathOf(backup));
  }
}
