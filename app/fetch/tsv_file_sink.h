// CTsvFileSink writes the entries of a streamed reply into an open file, one
// text line per entry (app/log_line.h), gathered into blocks so that a
// unit's log costs few system calls. It owns nothing: the caller opens and
// closes the descriptor. One thread at a time.
#ifndef KRTLOGS_APP_FETCH_TSV_FILE_SINK_H_
#define KRTLOGS_APP_FETCH_TSV_FILE_SINK_H_

#include <cstdint>
#include <string>

#include "runtime/log/entry_sink.h"

class CTsvFileSink : public qo::log::entry_sink_t {
 public:
  // `path` names the file in error texts.
  CTsvFileSink(int fd, std::string path);

  void entry(const qo::log::log_entry_t& entry) override;
  // Writes what is still gathered. Throws qo::pos::exception_t like entry.
  void Finish();

  uint64_t entries() const { return entries_; }
  uint64_t bytes() const { return bytes_; }
  // True once a write failed: the exception that left a call came from the
  // file, not from the unit.
  bool failed() const { return failed_; }

 private:
  void Flush();

  const int fd_;
  const std::string path_;
  std::string block_;
  uint64_t entries_ = 0;
  uint64_t bytes_ = 0;
  bool failed_ = false;
};

#endif  // KRTLOGS_APP_FETCH_TSV_FILE_SINK_H_
