#include "tests/support/file_size_limit.h"

namespace testing_support {

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  getrlimit(RLIMIT_FSIZE, &saved_);
  old_handler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit lowered = saved_;
  lowered.rlim_cur = bytes;
  ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &saved_);
  signal(SIGXFSZ, old_handler_);
}

}  // namespace testing_support
