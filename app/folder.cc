#include "app/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "app/temp_file.h"
#include "app/temp_registry.h"

namespace {

constexpr char kLockName[] = ".krtlogs.lock";
constexpr mode_t kLockMode = 0644;    // others may open it to wait their turn
constexpr mode_t kFolderMode = 0777;  // less the umask, as mkdir(1)
// A lock file removed by its holder between our open and our flock is
// opened again; more than this many in a row means something is wrong.
constexpr int kMaxLockAttempts = 100;
constexpr size_t kPidTextMax = 32;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string Normalise(const std::string& path) {
  if (path.empty()) return ".";
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  return path.substr(0, end + 1);
}

// The process id the holder wrote into the lock file, or empty.
std::string HolderOf(int lock_fd) {
  char text[kPidTextMax] = {};
  ssize_t n = pread(lock_fd, text, sizeof(text) - 1, 0);
  if (n <= 0) return "";
  std::string pid(text, static_cast<size_t>(n));
  size_t end = pid.find_first_not_of("0123456789");
  return pid.substr(0, end);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

CFolderBusy::CFolderBusy(const std::string& message)
    : qo::exception_t(message) {}

void EnsurePlainFileName(const std::string& name) {
  bool plain = !name.empty() && name != "." && name != ".." &&
               name.find('/') == std::string::npos &&
               name.find('\0') == std::string::npos;
  qo::ensure(plain, "\"" + name + "\" is not a plain file name");
}

void CreateFolderWithParents(const std::string& path) {
  std::string whole = Normalise(path);
  size_t pos = 0;
  while (pos < whole.size()) {
    size_t slash = whole.find('/', pos);
    size_t end = slash == std::string::npos ? whole.size() : slash;
    pos = end + 1;
    if (end == 0 || whole[end - 1] == '/') continue;  // "/" or "//"
    std::string part = whole.substr(0, end);
    if (mkdir(part.c_str(), kFolderMode) == 0) continue;
    if (errno == EEXIST) {
      struct stat st;
      if (stat(part.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) continue;
        errno = ENOTDIR;
      }
    }
    std::string context = "cannot create the folder " + whole;
    if (part != whole) context += " (" + part + ")";
    throw qo::pos::exception_t(context);
  }
}

COutputFolder::COutputFolder(const std::string& path) : path_(Normalise(path)) {
  CreateFolderWithParents(path_);
  fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw qo::pos::exception_t("cannot open the folder " + path_);
  try {
    Lock();
  } catch (...) {
    close(fd_);
    throw;
  }
  CTempRegistry::Instance().FolderOpened(fd_, Description());
  RemoveStaleTemporaries();
}

COutputFolder::~COutputFolder() {
  CTempRegistry& registry = CTempRegistry::Instance();
  if (remove_lock_file_) {
    // Removed while still locked and under the registry's lock, so that
    // neither a run that starts next nor our own interrupt thread can meet
    // a half-released lock.
    qo::pproc::plain_lock_t lock(registry.mutex());
    unlinkat(fd_, kLockName, 0);
    registry.Remove(lock_id_);
  }
  registry.FolderClosed(fd_);
  if (lock_fd_ >= 0) close(lock_fd_);
  close(fd_);
}

std::string COutputFolder::PathOf(const std::string& name) const {
  if (path_ == ".") return name;
  if (path_ == "/") return "/" + name;
  return path_ + "/" + name;
}

std::string COutputFolder::Description() const {
  return path_ == "." ? "the current folder" : "the folder " + path_;
}

bool COutputFolder::Exists(const std::string& name) const {
  EnsurePlainFileName(name);
  struct stat st;
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (errno == ENOENT) return false;
  throw qo::pos::exception_t("cannot look at " + PathOf(name));
}

void COutputFolder::Lock() {
  std::string lock_path = PathOf(kLockName);
  for (int attempt = 0; attempt < kMaxLockAttempts; ++attempt) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool writable = true;
    ScopedFd file(openat(fd_, kLockName, O_RDWR | O_CREAT | kFlags, kLockMode));
    if (file.get() < 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS)) {
      // A folder this user cannot write to: wait behind a run that holds
      // an existing lock file, or else lock the folder itself. Such a run
      // cannot create anything here, so it cannot disturb another.
      writable = false;
      file.reset(openat(fd_, kLockName, O_RDONLY | kFlags));
      if (file.get() < 0 && errno == ENOENT) {
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
        if (errno == EWOULDBLOCK) {
          throw CFolderBusy("another krtlogs run is working in " +
                            Description());
        }
        throw qo::pos::exception_t("cannot lock " + Description());
      }
    }
    if (file.get() < 0) {
      throw qo::pos::exception_t("cannot open the lock file " + lock_path);
    }
    struct stat held;
    if (fstat(file.get(), &held) != 0) {
      throw qo::pos::exception_t("cannot open the lock file " + lock_path);
    }
    if (!S_ISREG(held.st_mode)) {
      throw qo::exception_t("the lock file " + lock_path +
                            " is not a regular file");
    }
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        throw qo::pos::exception_t("cannot lock " + lock_path);
      }
      std::string holder = HolderOf(file.get());
      throw CFolderBusy("another krtlogs run" +
                        (holder.empty() ? "" : " (process " + holder + ")") +
                        " is working in " + Description());
    }
    // The holder before us removes the lock file when it ends; a lock on
    // a file that no longer has the name locks nothing.
    struct stat named;
    if (fstatat(fd_, kLockName, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(held, named)) {
      continue;
    }
    if (writable) {
      std::string pid = std::to_string(getpid()) + "\n";
      // The process id only makes the next run's message plainer. A lock
      // file with another name (a hard link) is someone's file elsewhere
      // too, and is locked but never written.
      if (held.st_nlink == 1 && ftruncate(file.get(), 0) == 0) {
        (void)!pwrite(file.get(), pid.data(), pid.size(), 0);
      }
      CTempRegistry& registry = CTempRegistry::Instance();
      qo::pproc::plain_lock_t lock(registry.mutex());
      lock_id_ = registry.Add(fd_, kLockName, /*unfinished=*/false);
      remove_lock_file_ = true;
    }
    lock_fd_ = file.release();
    return;
  }
  errno = EAGAIN;
  throw qo::pos::exception_t("cannot lock " + lock_path);
}

void COutputFolder::RemoveStaleTemporaries() {
  // Housekeeping: a folder that cannot be listed keeps its leftovers, and
  // the run goes on.
  int dup_fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (dup_fd < 0) return;
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(dup_fd));
  if (!dir) {
    close(dup_fd);
    return;
  }
  rewinddir(dir.get());
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (!IsTemporaryName(name)) continue;
    struct stat st;
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    if (unlinkat(fd_, name.c_str(), 0) == 0) ++stale_removed_;
  }
}
