// What the log tests share about entries: one line per entry holding every
// field, so that lists compare in one assertion with a readable difference,
// entries as the IDL sequence a servant sends, and a sink that keeps what it
// is given.
#ifndef KRTLOGS_TESTS_RUNTIME_LOG_ENTRIES_H_
#define KRTLOGS_TESTS_RUNTIME_LOG_ENTRIES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/log/entry_sink.h"
#include "runtime/log/log_convert.h"
#include "runtime/log/log_types.h"

namespace qo::log::test_support {

inline std::string Render(const log_entry_t& e) {
  const log_time_t& t = e.when;
  std::string line = e.s_who + "|" + std::to_string(e.severity) + "|" +
                     std::to_string(e.i_what) + "|" + e.s_what + "|";
  for (uint32_t field :
       {t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsec}) {
    line += std::to_string(field) + ".";
  }
  return line + "|" + std::to_string(e.index);
}

template <typename Entries>
std::vector<std::string> Render(const Entries& entries) {
  std::vector<std::string> lines;
  for (const log_entry_t& e : entries) lines.push_back(Render(e));
  return lines;
}

inline qoc::log::entry_seq_t ToIdl(const std::vector<log_entry_t>& entries) {
  qoc::log::entry_seq_t seq;
  copy_entries(log_entry_list_t(entries.begin(), entries.end()), seq);
  return seq;
}

// Keeps every count and entry it is given. `on_entry`, when set, runs
// before entry number n (from 0) is kept, and may throw.
class collecting_sink_t : public entry_sink_t {
 public:
  void begin(uint32_t count) override {
    if (on_begin) on_begin();
    begins.push_back(count);
  }
  void entry(const log_entry_t& e) override {
    if (on_entry) on_entry(entries.size());
    entries.push_back(e);
  }

  std::function<void()> on_begin;
  std::function<void(size_t n)> on_entry;
  std::vector<uint32_t> begins;
  std::vector<log_entry_t> entries;
};

}  // namespace qo::log::test_support

#endif  // KRTLOGS_TESTS_RUNTIME_LOG_ENTRIES_H_
