// The text form of a log entry in a unit's log file:
//   MM/DD/YYYY HH:MM:SS<tab><blank>index<tab><blank>severity<tab>who<tab>what
// and a line feed, each date and time number at least two digits,
// zero-padded; the year in full. Nothing inside who or what is escaped, so
// that the file keeps the unit's bytes: a line feed there makes the entry
// span one more line, a tab adds a field. Plain functions, any thread.
#ifndef KRTLOGS_APP_LOG_LINE_H_
#define KRTLOGS_APP_LOG_LINE_H_

#include <cstdint>
#include <string>

#include "runtime/log/log_types.h"

// "verbiage", "note", "warning", "error", and "fault" for any other value.
// The JSON lines format uses the same names.
const char* SeverityName(int32_t severity);

// Appends "MM/DD/YYYY HH:MM:SS" (no microseconds).
void AppendLogTime(const qo::log::log_time_t& when, std::string& out);

// Appends the entry's line, with its "\n", to `out`.
void AppendLogLine(const qo::log::log_entry_t& entry, std::string& out);

#endif  // KRTLOGS_APP_LOG_LINE_H_
