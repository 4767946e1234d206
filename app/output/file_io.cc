#include "app/output/file_io.h"

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
