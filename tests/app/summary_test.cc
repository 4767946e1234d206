// The run's closing line on standard error, field by field.
#include "app/summary.h"

#include <string>

#include "gtest/gtest.h"

namespace krtlogs_test {
namespace {

SRunSummary Fetch() {
  SRunSummary s;
  s.asked = 10;
  s.found = 10;
  s.done = 8;
  s.empty = 1;
  s.failed = {"KRT33 (10.1.2.33)"};
  s.entries = 800000;
  s.bytes = 81234567;
  s.archive = "/home/tech/run/KRTLogs.zip";
  s.archive_bytes = 9123456;
  s.seconds = 12.34;
  return s;
}

SRunSummary Clear() {
  SRunSummary s;
  s.clearing = true;
  s.asked = SRunSummary::kAllUnits;
  s.found = 7;
  s.done = 5;
  s.not_tried = 1;
  s.failed = {"KRT4 (10.1.2.4)"};
  s.seconds = 2.06;
  // Fetching fields play no part in a clearing run's line.
  s.entries = 99;
  s.archive = "/tmp/KRTLogs.zip";
  return s;
}

TEST(SummaryTest, Format) {
  struct {
    SRunSummary summary;
    std::string line;
  } cases[] = {
      {Fetch(),
       "krtlogs: summary: 10 asked, 10 found, 8 collected, 1 empty, 1 failed: "
       "KRT33 (10.1.2.33); 800000 entries, 81234567 bytes of log text; "
       "archive /home/tech/run/KRTLogs.zip (9123456 bytes); 12.3 s"},
      {[] {
         SRunSummary s = Fetch();
         s.failed = {"KRT2 (10.1.2.2)", "KRT3 (10.1.2.3)"};
         s.archive.clear();
         return s;
       }(),
       "krtlogs: summary: 10 asked, 10 found, 8 collected, 1 empty, 2 failed: "
       "KRT2 (10.1.2.2), KRT3 (10.1.2.3); 800000 entries, 81234567 bytes of "
       "log text; no archive; 12.3 s"},
      // -n 0: nothing asked, an empty archive still written.
      {[] {
         SRunSummary s;
         s.archive = "/w/KRTLogs.zip";
         s.archive_bytes = 22;
         return s;
       }(),
       "krtlogs: summary: 0 asked, 0 found, 0 collected, 0 empty, 0 failed; 0 "
       "entries, 0 bytes of log text; archive /w/KRTLogs.zip (22 bytes); 0.0 "
       "s"},
      // Entries the units dropped are told only when there are any.
      {[] {
         SRunSummary s = Fetch();
         s.dropped = 1234;
         return s;
       }(),
       "krtlogs: summary: 10 asked, 10 found, 8 collected, 1 empty, 1 failed: "
       "KRT33 (10.1.2.33); 800000 entries, 81234567 bytes of log text, 1234 "
       "entries dropped by the units; archive /home/tech/run/KRTLogs.zip "
       "(9123456 bytes); 12.3 s"},
      {Clear(),
       "krtlogs: summary: all asked, 7 found, 5 cleared, 1 not tried, 1 "
       "failed: KRT4 (10.1.2.4); 2.1 s"},
      // A folder name with a line break stays on one line.
      {[] {
         SRunSummary s = Fetch();
         s.failed.clear();
         s.archive = "/w/a\nb/KRTLogs.zip";
         s.seconds = -1;  // a clock that stepped back
         return s;
       }(),
       "krtlogs: summary: 10 asked, 10 found, 8 collected, 1 empty, 0 failed; "
       "800000 entries, 81234567 bytes of log text; archive "
       "/w/a\\nb/KRTLogs.zip (9123456 bytes); 0.0 s"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, SummaryLine(c.summary));
}

}  // namespace
}  // namespace krtlogs_test
