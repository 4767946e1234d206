// CLogWriter writes one unit's log file in one of the tool's formats, fed
// entry by entry. It is itself the entry sink of a streamed get_last or
// get_since (qo::log::entry_sink_t), so a unit's log goes from the reply to
// the file without ever being held whole.
//
// It writes into a descriptor the caller opened (and closes after Finish):
// the caller owns the file, its name and its fate. Every block written also
// goes to a copy sink when one is given, so that a second consumer (the
// archive's compression) gets exactly the file's bytes without reading the
// file back. Lines are gathered and
// written in blocks of kWriteBlock bytes; every write is checked, and a
// failure (a full disk, an I/O error) throws qo::pos::exception_t with the
// OS error, from `entry` or from `Finish`. After a failure the writer
// refuses further work and gives no summary, so a partly written file is
// never counted as written: the caller discards it.
//
// One writer per file, used by one thread at a time.
#ifndef KRTLOGS_APP_OUTPUT_LOG_WRITER_H_
#define KRTLOGS_APP_OUTPUT_LOG_WRITER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "app/options.h"
#include "app/output/sha256.h"
#include "app/output/unit_outcome.h"
#include "runtime/log/entry_sink.h"
#include "runtime/log/log_types.h"

// "_log.txt" for tsv, "_log.jsonl" for jsonl.
const char* LogFileSuffix(LogFormat format);

// "KRT" + base + the format's suffix: "KRT33_log.txt", "KRT33_log.jsonl".
std::string LogFileName(LogFormat format, const std::string& base);

// "tsv", "jsonl".
const char* LogFormatName(LogFormat format);

class CLogWriter : public qo::log::entry_sink_t {
 public:
  // Bytes gathered before each write.
  static constexpr size_t kWriteBlock = 64 * 1024;

  // Receives each block once it is in the file, in order. Called on the
  // writer's thread; must not throw.
  class CBlockSink {
   public:
    virtual void Block(const char* data, size_t size) = 0;

   protected:
    ~CBlockSink() = default;
  };

  // `fd`: open for writing, borrowed. `path`: the file's name for error
  // texts. `with_sha256`: compute the SHA-256 of the bytes as they are
  // written (otherwise that costs nothing). `copy`: borrowed, may be null.
  CLogWriter(LogFormat format, int fd, std::string path, bool with_sha256,
             CBlockSink* copy = nullptr);
  ~CLogWriter() override;
  CLogWriter(const CLogWriter&) = delete;
  CLogWriter& operator=(const CLogWriter&) = delete;

  // Adds one entry's line. Throws qo::pos::exception_t when a block cannot
  // be written, and qo::exception_t after an earlier failure or Finish.
  void entry(const qo::log::log_entry_t& entry) override;

  // Writes what is still gathered and returns what the file received.
  // Throws as `entry`; call once.
  LogFileSummary Finish();

  // True once a write failed: an exception that ended the call feeding
  // this writer came from the file, not from the unit.
  bool failed() const { return failed_; }

 private:
  using LineFormatter = void (*)(const qo::log::log_entry_t&, std::string&);

  void CheckUsable() const;
  void WriteBlock();

  const LineFormatter format_line_;
  const int fd_;
  const std::string path_;
  CBlockSink* const copy_;
  std::unique_ptr<CSha256> sha256_;  // null unless asked for
  std::string block_;
  LogFileSummary summary_;
  bool failed_ = false;
  bool finished_ = false;
};

#endif  // KRTLOGS_APP_OUTPUT_LOG_WRITER_H_
