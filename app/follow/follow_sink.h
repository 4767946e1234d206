// CFollowSink turns the entries of one reply from one unit into lines of
// -follow's standard output, and hands them to the output in blocks of
// whole lines (at most kBlock bytes and one line), the rest at Flush.
//
// Lines: the unit's name, a tab and the entry as the text log files write
// it (-format tsv), control characters in its source and text escaped
// (\n, \t, \x1b) so that every entry is one line that starts with its
// unit's name; or the entry's JSON line with "unit" as its first member
// (-format jsonl).
//
// Only entries from index `from` on are taken, each once, in the order
// received (get_last answers more than is new when the log grew after
// range). With `strict`, a reply whose first new entry lies past `from`
// is taken as one that did not reach back far enough: nothing of it is
// printed, and gap() tells the caller to ask again.
//
// One sink per reply, one thread; the output is borrowed.
#ifndef KRTLOGS_APP_FOLLOW_FOLLOW_SINK_H_
#define KRTLOGS_APP_FOLLOW_FOLLOW_SINK_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/options.h"
#include "runtime/log/entry_sink.h"

class CFollowOutput;

// What each line of `unit` starts with: "KRT33\t", or {"unit":"KRT33",
// for JSON lines.
std::string FollowLinePrefix(LogFormat format, const std::string& unit);

// Appends the line of `entry`, with its "\n", after `prefix`.
void AppendFollowLine(LogFormat format, const std::string& prefix,
                      const qo::log::log_entry_t& entry, std::string& out);

class CFollowSink : public qo::log::entry_sink_t {
 public:
  static constexpr size_t kBlock = 64 * 1024;

  CFollowSink(LogFormat format, const std::string& prefix, uint32_t from,
              bool strict, CFollowOutput& out);

  void entry(const qo::log::log_entry_t& entry) override;

  // Writes the lines still gathered; false once the output is closed.
  bool Flush();

  bool gap() const { return gap_; }
  // Whether any line reached the output, and the index of the last one.
  bool printed() const { return printed_; }
  uint32_t last_printed() const { return last_printed_; }

 private:
  const LogFormat format_;
  const std::string& prefix_;
  uint32_t expected_;
  const bool strict_;
  CFollowOutput& out_;
  std::string block_;
  bool taken_ = false;  // an entry of this reply was taken
  bool gap_ = false;
  bool closed_ = false;
  uint32_t block_last_ = 0;  // index of the block's last line
  bool printed_ = false;
  uint32_t last_printed_ = 0;
};

#endif  // KRTLOGS_APP_FOLLOW_FOLLOW_SINK_H_
