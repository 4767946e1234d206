// The log manager proxy against krt-sim's servants in another process,
// found through velto-repo as the tool finds them: every operation field
// by field, a log of 100,000 entries listed and streamed, error codes end to
// end, and logon sessions destroyed when their proxies go.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/log/log_convert.h"
#include "runtime/log/log_module.h"
#include "runtime/log/manager_proxy.h"
#include "runtime/pm/pm_module.h"
#include "tests/runtime/log/entries.h"
#include "tests/runtime/log/outcome.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"
#include "tools/sim_content.h"

namespace qo::log {
namespace {

using tools_test::server_t;

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new tools_test::orb_environment_t);

constexpr uint32_t kSeed = 5;
constexpr uint32_t kBig = 100000;
const char kBigUnit[] = "10.1.2.1";

// Field by field; empty when equal, else the first field that differs.
std::string Difference(const log_entry_t& a, const log_entry_t& b) {
  if (a.s_who != b.s_who) return "s_who";
  if (a.severity != b.severity) return "severity";
  if (a.i_what != b.i_what) return "i_what";
  if (a.s_what != b.s_what) return "s_what";
  const log_time_t& x = a.when;
  const log_time_t& y = b.when;
  if (x.year != y.year || x.month != y.month || x.day != y.day ||
      x.hour != y.hour || x.minute != y.minute || x.second != y.second ||
      x.microsec != y.microsec) {
    return "when";
  }
  if (a.index != b.index) return "index";
  return "";
}

// "" when `list` holds SimEntry(kSeed, address, from..from+n-1) exactly.
std::string CompareWithSim(const log_entry_list_t& list,
                           const std::string& address, uint32_t from,
                           uint32_t n, uint32_t seed = kSeed) {
  if (list.size() != n) return "size " + std::to_string(list.size());
  uint32_t i = from;
  for (const log_entry_t& entry : list) {
    std::string field = Difference(SimEntry(seed, address, i), entry);
    if (!field.empty()) return field + " of entry " + std::to_string(i);
    ++i;
  }
  return "";
}

using qo::log::test_support::Outcome;

class LogRemoteTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing_support::TempDir;
    repo_ = new server_t(tools_test::velto_repo_argv(), dir_->File("repo"),
                         "velto-repo ready");
    // Units must not announce themselves to some other repository.
    if (!repo_->ready()) return;
    big_ = new server_t(
        tools_test::krt_sim_argv({"--units", "1", "--first-address", kBigUnit,
                                  "--entries", std::to_string(kBig), "--seed",
                                  std::to_string(kSeed)}),
        dir_->File("big"), "krt-sim ready: 1 units");
    small_ =
        new server_t(tools_test::krt_sim_argv(
                         {"--address",  "10.1.3.1",
                          "--address",  "10.1.3.2",
                          "--address",  "10.1.3.3",
                          "--address",  "10.1.3.4",
                          "--entries",  "50",
                          "--seed",     std::to_string(kSeed),
                          "--fault",    "10.1.3.3:range-error:0x20000403",
                          "--fault",    "10.1.3.3:get-last-error:536871184",
                          "--fault",    "10.1.3.3:clear-error:0x20000401",
                          "--fault",    "10.1.3.4:no-clear",
                          "--password", "secret"}),
                     dir_->File("small"), "krt-sim ready: 4 units");
  }
  static void TearDownTestSuite() {
    for (server_t* server : {small_, big_, repo_}) {
      if (server == nullptr) continue;
      EXPECT_EQ(0, server->stop()) << server->output();
      delete server;
    }
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(repo_->ready()) << repo_->output();
    ASSERT_TRUE(big_->ready() && small_->ready())
        << big_->output() << small_->output();
  }

  // A proxy for the unit at `address`, looked up in the repository.
  static std::unique_ptr<manager_if_t> Unit(const std::string& address) {
    std::unique_ptr<qo::pm::repository_if_t> repo(qo::pm::velto_connect());
    std::string ior;
    EXPECT_TRUE(repo->value_get(address + "/log_man_v1", ior)) << address;
    return std::unique_ptr<manager_if_t>(proxy_create(ior.c_str()));
  }

  static testing_support::TempDir* dir_;
  static server_t* repo_;
  static server_t* big_;
  static server_t* small_;
};

testing_support::TempDir* LogRemoteTest::dir_ = nullptr;
server_t* LogRemoteTest::repo_ = nullptr;
server_t* LogRemoteTest::big_ = nullptr;
server_t* LogRemoteTest::small_ = nullptr;

TEST_F(LogRemoteTest, AWholeLogOfAHundredThousandEntriesCrossesIntact) {
  // The content holds what must survive the trip.
  bool tab = false, newline = false, long_text = false, empty = false;
  for (uint32_t i = 0; i < kBig; ++i) {
    const std::string what = SimEntry(kSeed, kBigUnit, i).s_what;
    tab |= what.find('\t') != std::string::npos;
    newline |= what.find('\n') != std::string::npos;
    long_text |= what.size() > 150;
    empty |= what.empty();
  }
  ASSERT_TRUE(tab && newline && long_text && empty);

  std::unique_ptr<manager_if_t> unit = Unit(kBigUnit);
  const uint32_t base = SimFirstIndex(kSeed, kBigUnit);
  uint32_t first = 0;
  uint32_t last = 0;
  unit->range(first, last);
  EXPECT_EQ(base, first);
  EXPECT_EQ(base + kBig, last);
  log_entry_list_t all;
  unit->get_last(kBig + 10, all);
  EXPECT_EQ("", CompareWithSim(all, kBigUnit, 0, kBig));
  test_support::collecting_sink_t streamed;
  unit->stream_last(kBig + 10, streamed);
  EXPECT_EQ(std::vector<uint32_t>{kBig}, streamed.begins);
  EXPECT_EQ("", CompareWithSim(log_entry_list_t(streamed.entries.begin(),
                                                streamed.entries.end()),
                               kBigUnit, 0, kBig));
  log_entry_list_t some;
  unit->get_last(3, some);
  EXPECT_EQ("", CompareWithSim(some, kBigUnit, kBig - 3, 3));
  unit->get_since(base + 10, 2, some);
  EXPECT_EQ("", CompareWithSim(some, kBigUnit, 10, 2));
  unit->get_since(last, 2, some);
  EXPECT_TRUE(some.empty());
}

TEST_F(LogRemoteTest, FindsAnswerWholeEntriesOrLeaveTheRecord) {
  std::unique_ptr<manager_if_t> unit = Unit(kBigUnit);
  const uint32_t base = SimFirstIndex(kSeed, kBigUnit);
  log_entry_t found;
  ASSERT_TRUE(unit->find_relative(found, base + 10, -3, 0, 0));
  EXPECT_EQ("", Difference(SimEntry(kSeed, kBigUnit, 7), found));
  uint32_t expected = 100;
  while (SimEntry(kSeed, kBigUnit, expected).severity < 3) ++expected;
  ASSERT_TRUE(unit->find_next(found, base + 100, 3, 0));
  EXPECT_EQ("", Difference(SimEntry(kSeed, kBigUnit, expected), found));
  uint32_t previous = 200;
  while (SimEntry(kSeed, kBigUnit, previous).severity < 3) --previous;
  ASSERT_TRUE(unit->find_previous(found, base + 200, 3, 0));
  EXPECT_EQ("", Difference(SimEntry(kSeed, kBigUnit, previous), found));

  const log_entry_t kept = SimEntry(1, "elsewhere", 0);
  found = kept;
  EXPECT_FALSE(unit->find_previous(found, base - 1, 0, 0));
  EXPECT_FALSE(unit->find_relative(found, base, -1, 0, 0));
  EXPECT_EQ("", Difference(kept, found));

  // On the wire a miss carries an entry with every field zero, even right
  // after a hit whose entry the unit's allocator may hand out again.
  qoc::log::manager_i_ptr stub =
      static_cast<manager_proxy_t*>(unit.get())->object();
  qoc::log::entry_t_var sent;
  ASSERT_TRUE(stub->find_next(sent, base + 100, 3, 0));
  ASSERT_FALSE(stub->find_previous(sent, base - 1, 0, 0));
  log_entry_t missed;
  to_native(sent.in(), missed);
  EXPECT_EQ("|0|0||0.0.0.0.0.0.0.|0", test_support::Render(missed));
}

TEST_F(LogRemoteTest, PostedEntriesComeBackAndClearingEmpties) {
  std::unique_ptr<manager_if_t> unit = Unit("10.1.3.1");
  const uint32_t base = SimFirstIndex(kSeed, "10.1.3.1");
  log_entry_list_t posted = {SimEntry(9, "x", 1), SimEntry(9, "x", 2),
                             SimEntry(9, "x", 3)};
  posted.front().s_who = "who\twith\ttabs";
  posted.front().s_what = "two\nlines and a\ttab";
  posted.back().s_who = "";
  posted.back().s_what = std::string(100000, 'z');
  unit->post(posted, {2001, 2, 3, 4, 5, 6, 7});
  unit->post({}, {});
  uint32_t first = 0;
  uint32_t last = 0;
  unit->range(first, last);
  EXPECT_EQ(base, first);
  EXPECT_EQ(base + 53, last);
  log_entry_list_t back;
  unit->get_last(3, back);
  uint32_t index = base + 50;
  for (log_entry_t& entry : posted) entry.index = index++;  // the log numbers
  ASSERT_EQ(3u, back.size());
  auto b = back.begin();
  for (const log_entry_t& entry : posted)
    EXPECT_EQ("", Difference(entry, *b++));

  unit->clear_logs();
  unit->range(first, last);
  EXPECT_EQ(base + 53, first);
  EXPECT_EQ(base + 53, last);
  back = posted;
  unit->get_last(10, back);
  EXPECT_TRUE(back.empty());
}

TEST_F(LogRemoteTest, ErrorCodesAndTheirTextsArriveEndToEnd) {
  std::unique_ptr<manager_if_t> faulty = Unit("10.1.3.3");
  uint32_t first = 1;
  uint32_t last = 2;
  log_entry_list_t kept = {SimEntry(1, "x", 0)};
  EXPECT_EQ("errorcode|generic security error|" + std::to_string(0x20000403),
            Outcome([&] { faulty->range(first, last); }));
  EXPECT_EQ(
      "errorcode|unkown qo::errorcode 0x20000110|" + std::to_string(0x20000110),
      Outcome([&] { faulty->get_last(5, kept); }));
  EXPECT_EQ("sec|access denied|" + std::to_string(0x20000401),
            Outcome([&] { faulty->clear_logs(); }));
  EXPECT_EQ(1u, first);
  EXPECT_EQ(2u, last);
  EXPECT_EQ(1u, kept.size());
  EXPECT_EQ("sec|access denied|" + std::to_string(0x20000401),
            Outcome([&] { Unit("10.1.3.4")->clear_logs(); }));
  EXPECT_EQ(
      "sec|invalid username or bad password|" + std::to_string(0x20000402),
      Outcome([&] { faulty->logon("krt", "krt"); }));
}

TEST_F(LogRemoteTest, SessionsLiveUntilTheirProxiesGo) {
  std::unique_ptr<manager_if_t> unit = Unit("10.1.3.2");
  std::unique_ptr<manager_if_t> session(unit->logon("krt", "secret"));
  std::unique_ptr<manager_if_t> nested(session->logon("krt", "secret"));
  log_entry_list_t entries;
  nested->get_last(2, entries);  // the same log
  EXPECT_EQ("", CompareWithSim(entries, "10.1.3.2", 48, 2));

  manager_proxy_t after(qoc::log::manager_i::_duplicate(
      static_cast<manager_proxy_t*>(session.get())->object()));
  EXPECT_TRUE(proxy_servant_exists(&after));
  session.reset();  // destroys the remote session
  EXPECT_FALSE(proxy_servant_exists(&after));
  EXPECT_TRUE(proxy_servant_exists(nested.get()));
  EXPECT_TRUE(proxy_servant_exists(unit.get()));
}

}  // namespace
}  // namespace qo::log
