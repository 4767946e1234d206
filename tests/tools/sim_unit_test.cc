#include "tools/sim_unit.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace {

using qo::log::log_entry_list_t;
using qo::log::log_entry_t;

log_entry_t Entry(uint32_t index, int32_t severity, int32_t i_what) {
  log_entry_t e;
  e.index = index;
  e.severity = severity;
  e.i_what = i_what;
  e.s_what = "entry " + std::to_string(index);
  return e;
}

std::vector<uint32_t> Indexes(const log_entry_list_t& list) {
  std::vector<uint32_t> out;
  for (const log_entry_t& e : list) out.push_back(e.index);
  return out;
}

// A unit with entries 100..104 of severities 0, 3, 1, 3, 2.
class SimUnitTest : public testing::Test {
 protected:
  std::unique_ptr<sim_unit_t> Unit(const sim_faults_t& faults = {}) {
    auto log = std::make_shared<sim_log_t>(100);
    const int32_t severities[] = {0, 3, 1, 3, 2};
    for (uint32_t i = 0; i < 5; ++i) {
      log->Fill(Entry(100 + i, severities[i], static_cast<int32_t>(i % 2)));
    }
    return std::make_unique<sim_unit_t>(log, faults, gate_, "u", "p");
  }
  sim_gate_t gate_;
};

TEST_F(SimUnitTest, ReadsFollowTheIndexes) {
  auto unit = Unit();
  uint32_t first = 0, last = 0;
  unit->range(first, last);
  EXPECT_EQ(100u, first);
  EXPECT_EQ(105u, last);
  log_entry_list_t out = {Entry(1, 0, 0)};
  unit->get_last(2, out);
  EXPECT_EQ(std::vector<uint32_t>({103, 104}), Indexes(out));
  unit->get_last(50, out);
  EXPECT_EQ(5u, out.size());
  unit->get_since(102, 2, out);
  EXPECT_EQ(std::vector<uint32_t>({102, 103}), Indexes(out));
  unit->get_since(0, 1, out);
  EXPECT_EQ(std::vector<uint32_t>({100}), Indexes(out));
  unit->get_since(105, 1, out);
  EXPECT_TRUE(out.empty());

  log_entry_t found;
  EXPECT_TRUE(unit->find_next(found, 102, 3, 0));
  EXPECT_EQ(103u, found.index);
  EXPECT_TRUE(unit->find_next(found, 0, 0, 1));  // i_what 1
  EXPECT_EQ(101u, found.index);
  EXPECT_TRUE(unit->find_previous(found, 102, 3, 0));
  EXPECT_EQ(101u, found.index);
  EXPECT_TRUE(unit->find_previous(found, 900, 0, 0));
  EXPECT_EQ(104u, found.index);
  EXPECT_TRUE(unit->find_relative(found, 104, -4, 0, 0));
  EXPECT_EQ(100u, found.index);
  found = Entry(7, 7, 7);
  EXPECT_FALSE(unit->find_next(found, 104, 3, 0));
  EXPECT_FALSE(unit->find_previous(found, 99, 0, 0));
  EXPECT_FALSE(unit->find_relative(found, 104, 1, 0, 0));
  EXPECT_EQ(7u, found.index);
}

TEST_F(SimUnitTest, PostAppendsAndClearKeepsCounting) {
  auto unit = Unit();
  unit->post({Entry(0, 1, 1), Entry(0, 2, 2)}, {});
  log_entry_list_t out;
  unit->get_last(2, out);
  EXPECT_EQ(std::vector<uint32_t>({105, 106}), Indexes(out));
  EXPECT_EQ("entry 0", out.front().s_what);
  unit->clear_logs();
  uint32_t first = 0, last = 0;
  unit->range(first, last);
  EXPECT_EQ(107u, first);
  EXPECT_EQ(107u, last);
  unit->post({Entry(0, 1, 1)}, {});
  unit->get_last(9, out);
  EXPECT_EQ(std::vector<uint32_t>({107}), Indexes(out));
}

TEST_F(SimUnitTest, SessionsShareTheLogAndNeedTheCredentials) {
  auto unit = Unit();
  std::unique_ptr<qo::log::manager_if_t> session(unit->logon("u", "p"));
  session->clear_logs();
  uint32_t first = 0, last = 0;
  unit->range(first, last);
  EXPECT_EQ(first, last);
  EXPECT_THROW(unit->logon("u", "x"), qo::sec::logon_fail_t);
  EXPECT_THROW(unit->logon("x", "p"), qo::sec::logon_fail_t);
}

TEST_F(SimUnitTest, FaultsMisbehaveAsAsked) {
  sim_faults_t f;
  f.inverted = true;
  f.short_count = 2;
  auto unit = Unit(f);
  uint32_t first = 0, last = 0;
  unit->range(first, last);
  EXPECT_EQ(105u, first);
  EXPECT_EQ(100u, last);
  log_entry_list_t out;
  unit->get_last(4, out);
  EXPECT_EQ(std::vector<uint32_t>({103, 104}), Indexes(out));
  unit->get_last(1, out);
  EXPECT_EQ(std::vector<uint32_t>({104}), Indexes(out));

  sim_faults_t e;
  e.range_error = 0x20000403;
  e.get_last_error = 0x20000110;
  e.no_clear = true;
  auto failing = Unit(e);
  try {
    failing->range(first, last);
    ADD_FAILURE();
  } catch (const qo::errorcode_t& x) {
    EXPECT_EQ(0x20000403u, x.code());
  }
  EXPECT_THROW(failing->get_last(1, out), qo::errorcode_t);
  EXPECT_THROW(failing->clear_logs(), qo::sec::access_denied_t);
  EXPECT_EQ(1u, out.size());  // untouched
}

TEST_F(SimUnitTest, AReleasedHangFailsAndChangesNothing) {
  sim_faults_t f;
  f.hang_clear = true;
  auto unit = Unit(f);
  std::string outcome = "still hanging";
  std::thread caller([&] {
    try {
      unit->clear_logs();
      outcome = "answered";
    } catch (const qo::exception_t& e) {
      outcome = e.what();
    }
  });
  gate_.Release();
  caller.join();
  EXPECT_EQ("krt-sim is stopping", outcome);
  uint32_t first = 0, last = 0;
  unit->range(first, last);
  EXPECT_EQ(5u, last - first);  // nothing was cleared
}

// A log of at most 4 entries growing 1000 a second, on a clock the test
// moves: what is due appears at the next call, the oldest go, and the next
// index goes on counting through a clear.
TEST(SimLogTest, GrowthIsDueByTheClockAndTheCapDropsTheOldest) {
  sim_log_t log(100, 4);
  sim_log_t::clock_type::time_point now{};
  log.Fill(Entry(100, 0, 0));
  log.Grow(
      1000, [](uint32_t index) { return Entry(index, 1, 0); },
      [&now] { return now; });
  const struct {
    int micros;  // the clock moves on by this much
    bool clear;  // then the log is cleared
    uint32_t first, last;
  } table[] = {
      {999, false, 100, 101},       {1, false, 100, 102},
      {2000, false, 100, 104},      {2000, false, 102, 106},
      {9000000, false, 9102, 9106}, {0, true, 9106, 9106},
      {1500, false, 9106, 9107},
  };
  for (const auto& row : table) {
    now += std::chrono::microseconds(row.micros);
    if (row.clear) log.Clear();
    uint32_t first = 0, last = 0;
    log.Range(first, last);
    EXPECT_EQ(row.first, first) << row.micros;
    EXPECT_EQ(row.last, last) << row.micros;
  }
  log_entry_list_t out;
  log.GetLast(9, out);
  EXPECT_EQ(std::vector<uint32_t>({9106}), Indexes(out));
}

}  // namespace
