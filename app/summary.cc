#include "app/summary.h"

#include <cstdio>

#include "app/reasons.h"
#include "app/text_escape.h"

namespace {

std::string Count(uint64_t n, const char* what) {
  return std::to_string(n) + " " + what;
}

std::string Failed(const std::vector<std::string>& units) {
  std::string text = Count(units.size(), "failed");
  for (size_t i = 0; i < units.size(); ++i) {
    text += (i == 0 ? ": " : ", ") + units[i];
  }
  return text;
}

std::string Seconds(double seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  snprintf(text, sizeof(text), "%.1f s", seconds);
  return text;
}

}  // namespace

std::string SummaryLine(const SRunSummary& s) {
  std::string line = "krtlogs: summary: ";
  line += s.asked == SRunSummary::kAllUnits ? std::string("all asked")
                                            : Count(s.asked, "asked");
  line += ", " + Count(s.found, "found");
  if (s.clearing) {
    line += ", " + Count(s.done, "cleared");
    line += ", " + Count(s.not_tried, "not tried");
    line += ", " + Failed(s.failed);
  } else {
    line += ", " + Count(s.done, "collected");
    line += ", " + Count(s.empty, "empty");
    line += ", " + Failed(s.failed);
    line += "; " + Count(s.entries, "entries");
    line += ", " + Count(s.bytes, "bytes of log text");
    // Only when there is something to say, so that a run without it keeps
    // the line scripts know.
    if (s.dropped != 0) {
      line += ", " + Count(s.dropped, "entries dropped by the units");
    }
    if (s.archive.empty()) {
      line += "; no archive";
    } else {
      line += "; archive " + EscapeControlCharacters(s.archive) + " (" +
              Count(s.archive_bytes, "bytes") + ")";
    }
  }
  line += "; " + Seconds(s.seconds);
  return line;
}
