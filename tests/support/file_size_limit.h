// Lowers the largest file this process may write while the object lives,
// so that a write past `bytes` fails with EFBIG part-way, as on a full
// disk, instead of raising SIGXFSZ. Restores the limit and the signal's
// handler when it goes away. Not for use by two threads at once.
#ifndef KRTLOGS_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
#define KRTLOGS_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_

#include <sys/resource.h>

#include <csignal>

namespace testing_support {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // Whether the lower limit took effect.
  bool ok() const { return ok_; }

 private:
  rlimit saved_;
  sighandler_t old_handler_;
  bool ok_ = false;
};

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
