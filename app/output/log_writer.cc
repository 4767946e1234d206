#include "app/output/log_writer.h"

#include "app/log_line.h"
#include "app/output/file_io.h"
#include "app/output/json_text.h"
#include "runtime/error/exception.h"

namespace {

// Room beyond a block for the line that crosses its end, so that ordinary
// lines never make the buffer grow.
constexpr size_t kBlockSlack = 4096;

}  // namespace

const char* LogFileSuffix(LogFormat format) {
  return format == LogFormat::kJsonl ? "_log.jsonl" : "_log.txt";
}

std::string LogFileName(LogFormat format, const std::string& base) {
  return "KRT" + base + LogFileSuffix(format);
}

const char* LogFormatName(LogFormat format) {
  return format == LogFormat::kJsonl ? "jsonl" : "tsv";
}

CLogWriter::CLogWriter(LogFormat format, int fd, std::string path,
                       bool with_sha256, CBlockSink* copy)
    : format_line_(format == LogFormat::kJsonl ? AppendJsonLogLine
                                               : AppendLogLine),
      fd_(fd),
      path_(std::move(path)),
      copy_(copy) {
  if (with_sha256) sha256_ = std::make_unique<CSha256>();
  block_.reserve(kWriteBlock + kBlockSlack);
}

CLogWriter::~CLogWriter() = default;

void CLogWriter::CheckUsable() const {
  if (failed_) {
    throw qo::exception_t("cannot write " + path_ +
                          ": an earlier write failed");
  }
  if (finished_) throw qo::exception_t(path_ + ": written after its end");
}

void CLogWriter::entry(const qo::log::log_entry_t& entry) {
  CheckUsable();
  format_line_(entry, block_);
  if (summary_.entries == 0) summary_.first = entry.index;
  summary_.last = entry.index;
  ++summary_.entries;
  if (block_.size() >= kWriteBlock) WriteBlock();
}

LogFileSummary CLogWriter::Finish() {
  CheckUsable();
  WriteBlock();
  if (sha256_) summary_.sha256 = sha256_->Finish();
  finished_ = true;
  return summary_;
}

void CLogWriter::WriteBlock() {
  if (block_.empty()) return;
  try {
    if (sha256_) sha256_->Update(block_.data(), block_.size());
    WriteAll(fd_, block_.data(), block_.size(), path_);
  } catch (...) {
    failed_ = true;
    throw;
  }
  if (copy_ != nullptr) copy_->Block(block_.data(), block_.size());
  summary_.bytes += block_.size();
  block_.clear();
}
