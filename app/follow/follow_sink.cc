#include "app/follow/follow_sink.h"

#include "app/follow/follow_output.h"
#include "app/log_line.h"
#include "app/output/json_text.h"
#include "app/text_escape.h"

std::string FollowLinePrefix(LogFormat format, const std::string& unit) {
  if (format == LogFormat::kTsv) return EscapeControlCharacters(unit) + "\t";
  std::string prefix = "{\"unit\":";
  AppendJsonString(unit, prefix);
  prefix.push_back(',');
  return prefix;
}

void AppendFollowLine(LogFormat format, const std::string& prefix,
                      const qo::log::log_entry_t& entry, std::string& out) {
  if (format == LogFormat::kJsonl) {
    // The entry's object without its opening brace, after the prefix's.
    const size_t at = out.size();
    AppendJsonLogLine(entry, out);
    out.replace(at, 1, prefix);
    return;
  }
  out.append(prefix);
  if (!HasControlCharacters(entry.s_who) &&
      !HasControlCharacters(entry.s_what)) {
    AppendLogLine(entry, out);
    return;
  }
  qo::log::log_entry_t shown = entry;
  shown.s_who = EscapeControlCharacters(entry.s_who);
  shown.s_what = EscapeControlCharacters(entry.s_what);
  AppendLogLine(shown, out);
}

CFollowSink::CFollowSink(LogFormat format, const std::string& prefix,
                         uint32_t from, bool strict, CFollowOutput& out)
    : format_(format),
      prefix_(prefix),
      expected_(from),
      strict_(strict),
      out_(out) {}

void CFollowSink::entry(const qo::log::log_entry_t& entry) {
  if (gap_ || closed_ || entry.index < expected_) return;
  if (strict_ && !taken_ && entry.index > expected_) {
    gap_ = true;
    return;
  }
  taken_ = true;
  AppendFollowLine(format_, prefix_, entry, block_);
  expected_ = entry.index + 1;
  block_last_ = entry.index;
  if (block_.size() >= kBlock) Flush();
}

bool CFollowSink::Flush() {
  if (closed_) return false;
  if (block_.empty()) return true;
  if (!out_.Write(block_)) {
    closed_ = true;
    block_.clear();
    return false;
  }
  block_.clear();
  printed_ = true;
  last_printed_ = block_last_;
  return true;
}
