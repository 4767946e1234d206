#include "app/output/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "runtime/error/exception.h"

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTempNameAttempts = 100;
// New files get every permission the umask leaves.
constexpr mode_t kNewFileMode = 0666;

// A descriptor closed when the guard goes away, unless Close was called
// (whose result is checked).
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes a file when the guard goes away, unless released; errno is kept
// so that an exception on its way still reports the first failure.
class ScopedUnlink {
 public:
  explicit ScopedUnlink(std::string path) : path_(std::move(path)) {}
  ~ScopedUnlink() {
    if (path_.empty()) return;
    int saved = errno;
    unlink(path_.c_str());
    errno = saved;
  }
  ScopedUnlink(const ScopedUnlink&) = delete;
  ScopedUnlink& operator=(const ScopedUnlink&) = delete;
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

// Throws qo::pos::exception_t "<what> <path>: <OS error>" for the errno
// of the failed call, which building the text cannot disturb.
[[noreturn]] void ThrowOsError(const char* what, const std::string& path) {
  int error = errno;
  std::string context = std::string(what) + " " + path;
  errno = error;
  throw qo::pos::exception_t(context);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a file that did not exist, beside `path`, and returns its name.
std::string CreateTemporary(const std::string& path, int& fd) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    std::string name = path + kReplaceTempMarker + std::to_string(getpid()) +
                       "-" + std::to_string(counter++);
    fd =
        open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             kNewFileMode);
    if (fd >= 0) return name;
    if (errno != EEXIST) break;
  }
  ThrowOsError("cannot create a temporary file for", path);
}

}  // namespace

void WriteAll(int fd, const char* data, size_t size, const std::string& path) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowOsError("cannot write", path);
    }
    if (n == 0) {
      errno = ENOSPC;
      ThrowOsError("cannot write", path);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  int raw_fd = -1;
  std::string temporary = CreateTemporary(path, raw_fd);
  ScopedUnlink remove_temporary(temporary);
  ScopedFd fd(raw_fd);
  WriteAll(fd.get(), bytes.data(), bytes.size(), temporary);
  if (fsync(fd.get()) != 0) {
    ThrowOsError("cannot flush", temporary);
  }
  if (!fd.Close()) ThrowOsError("cannot close", temporary);
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    ThrowOsError("cannot replace", path);
  }
  remove_temporary.Release();
  // Make the new name itself durable. The replacement has happened by now,
  // so a folder that cannot be flushed is not reported as a failure.
  int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
}
