#include "app/fetch/tsv_file_sink.h"

#include <unistd.h>

#include <cerrno>

#include "app/log_line.h"
#include "runtime/error/exception.h"

namespace {

// Lines are gathered and written in blocks of about this size.
constexpr size_t kWriteBlock = 1 << 16;
// Room for the line that takes a block past kWriteBlock.
constexpr size_t kBlockSlack = 512;

}  // namespace

CTsvFileSink::CTsvFileSink(int fd, std::string path)
    : fd_(fd), path_(std::move(path)) {
  block_.reserve(kWriteBlock + kBlockSlack);
}

void CTsvFileSink::entry(const qo::log::log_entry_t& entry) {
  AppendLogLine(entry, block_);
  ++entries_;
  if (block_.size() >= kWriteBlock) Flush();
}

void CTsvFileSink::Finish() { Flush(); }

void CTsvFileSink::Flush() {
  const char* data = block_.data();
  size_t left = block_.size();
  while (left > 0) {
    ssize_t n = write(fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n == 0 ? EIO : errno;
      failed_ = true;
      std::string context = "cannot write " + path_;
      errno = error;
      throw qo::pos::exception_t(context);
    }
    data += n;
    left -= static_cast<size_t>(n);
    bytes_ += static_cast<uint64_t>(n);
  }
  block_.clear();
}
