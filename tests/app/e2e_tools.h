// What the end-to-end tests run beside krtlogs and the servers: krt-post to
// add entries to a unit's log, a strict reader of the archives the tool
// writes, and a pseudo-terminal for the progress display. Each runs as a
// child process; any thread.
#ifndef KRTLOGS_TESTS_APP_E2E_TOOLS_H_
#define KRTLOGS_TESTS_APP_E2E_TOOLS_H_

#include <cstdint>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "runtime/log/log_types.h"
#include "tests/support/process.h"

namespace krtlogs_test {

// Posts PostedEntry(from) .. PostedEntry(from + count - 1) to the unit at
// `address`; the result of krt-post.
testing_support::ProcessResult PostEntries(const std::string& address,
                                           uint32_t from, uint32_t count);

// What archive_facts.py read from `archive` (see there); a null value, with
// the reader's complaint in `error`, when it refused the archive.
nlohmann::json ReadArchiveFacts(const std::string& archive, std::string& error);

// A row of ReadArchiveFacts's "lines" for an entry that should read as
// `entry`, with who and what as the reader should get them.
nlohmann::json ExpectedJsonRow(const qo::log::log_entry_t& entry,
                               const std::string& who_as_read,
                               const std::string& what_as_read);
// The same for an entry whose texts are plain UTF-8.
nlohmann::json ExpectedJsonRow(const qo::log::log_entry_t& entry);

// krtlogs run with standard error on a terminal, standard output on a pipe.
struct TerminalRun {
  int status = -1;
  std::string out;     // standard output
  std::string tty;     // every byte written to the terminal
  std::string screen;  // the terminal's lines at the end
  std::string error;   // what went wrong running it, if anything
};
TerminalRun RunKrtlogsOnTerminal(const std::vector<std::string>& args,
                                 const std::string& cwd);

// The environment of every run whose times the tests read: local time ten
// hours east of UTC, all year, so that local and UTC times never agree.
constexpr char kTenHoursEast[] = "TZ=KRT-10";
// `when` as a stamp in the tool's archive names, "YYYYMMDD-HHMMSSZ" (UTC,
// whatever the local time).
std::string UtcStamp(std::time_t when);
// `when` in UTC as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(std::time_t when);

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_E2E_TOOLS_H_
