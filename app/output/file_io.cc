#include "app/output/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/error/exception.h"

namespace {

// Throws qo::pos::exception_t "<what> <path>: <OS error>" for the errno
// of the failed call, which building the text cannot disturb.
[[noreturn]] void ThrowOsError(const char* what, const std::string& path) {
  int error = errno;
  std::string context = std::string(what) + " " + path;
  errno = error;
  throw qo::pos::exception_t(context);
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

SmallFileRead ReadSmallFile(int folder_fd, const char* name, size_t max_bytes,
                            std::string& text) {
  text.clear();
  // Looked at before it is opened: a FIFO or a device is never opened.
  struct stat st;
  if (fstatat(folder_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? SmallFileRead::kMissing : SmallFileRead::kError;
  }
  if (S_ISLNK(st.st_mode)) return SmallFileRead::kLink;
  if (!S_ISREG(st.st_mode)) return SmallFileRead::kNotRegular;
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    return SmallFileRead::kTooLarge;
  }
  const int fd =
      openat(folder_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SmallFileRead::kError;
  SmallFileRead outcome = SmallFileRead::kRead;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    outcome = SmallFileRead::kNotRegular;
  } else {
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        outcome = SmallFileRead::kError;
        break;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > max_bytes) {
        outcome = SmallFileRead::kTooLarge;
        break;
      }
    }
  }
  const int error = errno;
  close(fd);
  errno = error;
  if (outcome != SmallFileRead::kRead) text.clear();
  return outcome;
}
