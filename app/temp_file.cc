#include "app/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "app/folder.h"
#include "runtime/error/exception.h"

namespace {

constexpr char kMarker[] = ".krtlogs-tmp-";
// Final names are short ("KRT33_log.txt"); a longer one is cut in its
// temporary name so that the name stays within the system's limit of 255.
constexpr size_t kMaxEmbeddedName = 200;
// Attempts at a free temporary name before giving up; only names left by
// other processes of the same id can collide.
constexpr int kMaxCreateAttempts = 100;

// Only a new file, never through a link; large, since a unit's log may
// pass 2 GiB on a 32-bit system.
constexpr int kCreateFlags =
    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_LARGEFILE;

std::atomic<uint64_t> next_serial{1};

bool AllDigits(const std::string& text, size_t begin, size_t end) {
  if (begin >= end) return false;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

std::string TemporaryNameFor(const std::string& final_name, uint64_t serial) {
  return "." + final_name.substr(0, kMaxEmbeddedName) + kMarker +
         std::to_string(getpid()) + "-" + std::to_string(serial);
}

bool IsTemporaryName(const std::string& name) {
  size_t marker = name.rfind(kMarker);
  if (name.size() < 2 || name[0] != '.' || marker == std::string::npos ||
      marker < 2) {
    return false;
  }
  size_t pid_begin = marker + sizeof(kMarker) - 1;
  size_t dash = name.find('-', pid_begin);
  return dash != std::string::npos && AllDigits(name, pid_begin, dash) &&
         AllDigits(name, dash + 1, name.size());
}

CTempFile::CTempFile(const COutputFolder& folder, const std::string& final_name,
                     Purpose purpose, mode_t mode)
    : folder_(folder), final_name_(final_name), purpose_(purpose) {
  EnsurePlainFileName(final_name);
  CTempRegistry& registry = CTempRegistry::Instance();
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    std::string name = TemporaryNameFor(final_name, next_serial++);
    qo::pproc::plain_lock_t lock(registry.mutex());
    int fd = openat(folder.fd(), name.c_str(), kCreateFlags, mode);
    if (fd >= 0) {
      fd_ = fd;
      temp_name_ = name;
      id_ = registry.Add(folder.fd(), name, /*unfinished=*/true);
      return;
    }
    if (errno != EEXIST) {
      throw qo::pos::exception_t("cannot create a temporary file for " +
                                 folder.PathOf(final_name));
    }
  }
  errno = EEXIST;
  throw qo::pos::exception_t("cannot find a free temporary name for " +
                             folder.PathOf(final_name));
}

CTempFile::~CTempFile() { Discard(); }

std::string CTempFile::path() const { return folder_.PathOf(temp_name_); }

void CTempFile::Commit(Durability durability) {
  qo::ensure(purpose_ != Purpose::kScratch && !committed_ && id_ != 0,
             "cannot commit " + folder_.PathOf(final_name_));
  std::string what = folder_.PathOf(final_name_);
  if (fd_ >= 0) {
    // EINVAL: the file system cannot sync (nothing to wait for).
    if (durability == Durability::kSynced && fsync(fd_) != 0 &&
        errno != EINVAL) {
      throw qo::pos::exception_t("cannot write " + what);
    }
    int fd = fd_;
    fd_ = -1;  // close(2) releases the descriptor even when it fails
    if (close(fd) != 0) throw qo::pos::exception_t("cannot write " + what);
  }
  {
    CTempRegistry& registry = CTempRegistry::Instance();
    qo::pproc::plain_lock_t lock(registry.mutex());
    if (renameat(folder_.fd(), temp_name_.c_str(), folder_.fd(),
                 final_name_.c_str()) != 0) {
      throw qo::pos::exception_t("cannot give " + what + " its name");
    }
    registry.Remove(id_);
    if (purpose_ == Purpose::kLogFile) {
      registry.NoteKept(folder_.fd(), final_name_, KeptKind::kLogFile, what);
    } else if (purpose_ == Purpose::kArchive) {
      registry.NoteKept(folder_.fd(), final_name_, KeptKind::kArchive, what);
    }
  }
  id_ = 0;
  committed_ = true;
  // The rename itself is durable only once the folder is. The file already
  // has its name and its data are on disk, so a folder that cannot be
  // synced is no reason to call the file lost.
  if (durability == Durability::kSynced) fsync(folder_.fd());
}

void CTempFile::SetFinalName(const std::string& final_name) {
  EnsurePlainFileName(final_name);
  final_name_ = final_name;
}

void CTempFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (id_ == 0) return;
  CTempRegistry& registry = CTempRegistry::Instance();
  qo::pproc::plain_lock_t lock(registry.mutex());
  unlinkat(folder_.fd(), temp_name_.c_str(), 0);
  registry.Remove(id_);
  id_ = 0;
}
