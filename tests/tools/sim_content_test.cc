#include "tools/sim_content.h"

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(SimContentTest, SameInputsSameEntryAndIndexesFollowOn) {
  const qo::log::log_entry_t a = SimEntry(1, "10.1.2.3", 17);
  const qo::log::log_entry_t b = SimEntry(1, "10.1.2.3", 17);
  EXPECT_EQ(a.s_who, b.s_who);
  EXPECT_EQ(a.s_what, b.s_what);
  EXPECT_EQ(a.when.microsec, b.when.microsec);
  EXPECT_EQ(SimFirstIndex(1, "10.1.2.3") + 17, a.index);
  // Another seed or unit gives another log.
  EXPECT_NE(a.s_what, SimEntry(2, "10.1.2.3", 17).s_what);
  EXPECT_NE(a.s_what, SimEntry(1, "10.1.2.4", 17).s_what);
}

TEST(SimContentTest, EntriesVaryTheWayLogsDo) {
  constexpr uint32_t kEntries = 20000;
  int odd_severity = 0, tab = 0, newline = 0, before_2000 = 0, after_2000 = 0;
  size_t line_bytes = 0;
  for (uint32_t i = 0; i < kEntries; ++i) {
    const qo::log::log_entry_t e = SimEntry(1, "10.1.2.1", i);
    odd_severity += e.severity < 0 || e.severity > 3;
    tab += e.s_what.find('\t') != std::string::npos;
    newline += e.s_what.find('\n') != std::string::npos;
    before_2000 += e.when.year < 2000;
    after_2000 += e.when.year > 2000;
    EXPECT_NE(0u, e.when.microsec);
    EXPECT_GE(e.when.month, 1u);
    EXPECT_LE(e.when.month, 12u);
    // A written line: date, index, severity name, who and what.
    line_bytes += 19 + 2 + std::to_string(e.index).size() + 2 + 7 + 1 +
                  e.s_who.size() + 1 + e.s_what.size() + 1;
  }
  EXPECT_GT(odd_severity, 0);
  EXPECT_GT(tab, 0);
  EXPECT_GT(newline, 0);
  EXPECT_GT(before_2000, 0);
  EXPECT_GT(after_2000, 0);
  const size_t average = line_bytes / kEntries;
  EXPECT_GE(average, 80u);
  EXPECT_LE(average, 125u);
}

}  // namespace
