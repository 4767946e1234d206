// The run's lines on standard output, each written and flushed at once, as
// scripts read them while the run goes on. The first line that cannot be
// written (a full disk, a closed pipe) is remembered with its reason, so
// that a run whose product is standard output (-list) can fail for it;
// later lines are still tried. Any thread, one line at a time (callers
// serialise their lines).
#ifndef KRTLOGS_APP_STDOUT_LINES_H_
#define KRTLOGS_APP_STDOUT_LINES_H_

#include <string>

// Writes `line` and a newline to standard output and flushes it.
void PrintLine(const std::string& line);

// From now on PrintLine writes to standard error instead, so that standard
// output carries nothing but what -follow prints. Call it before the first
// line, on the driver's thread.
void SendLinesToStandardError();

// Why the first line could not be written ("No space left on device"), or
// "" when every line was.
std::string StdoutFailure();

#endif  // KRTLOGS_APP_STDOUT_LINES_H_
