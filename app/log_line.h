// The text form of a log entry in a unit's log file: one line per entry,
//   MM/DD/YYYY HH:MM:SS<tab><blank>index<tab><blank>severity<tab>who<tab>what
// each date and time number at least two digits, zero-padded; the year in
// full. Nothing inside who or what is escaped.
#ifndef KRTLOGS_APP_LOG_LINE_H_
#define KRTLOGS_APP_LOG_LINE_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "runtime/log/log_types.h"

// "verbiage", "note", "warning", "error", and "fault" for any other value.
const char* SeverityName(int32_t severity);

// Appends the entry's line, with its "\n", to `out`.
void AppendLogLine(const qo::log::log_entry_t& entry, std::string& out);

namespace qo::log {
// Writes "MM/DD/YYYY HH:MM:SS"; leaves the stream's fill character at '0'.
std::ostream& operator<<(std::ostream& out, const log_time_t& when);
}  // namespace qo::log

#endif  // KRTLOGS_APP_LOG_LINE_H_
