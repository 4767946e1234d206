// The log manager's proxy and servant in one process: requests reach the
// servant through the POA as they would from a peer, so conversions,
// both translation tables, the logon registry and destroy are exercised
// with an implementation the test can look into.
#include "runtime/log/manager_servant.h"

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/log/log_convert.h"
#include "runtime/log/log_module.h"
#include "runtime/log/manager_proxy.h"
#include "tests/runtime/log/entries.h"
#include "tests/runtime/log/outcome.h"
#include "tests/tools/servers.h"

namespace qo::log {
namespace {

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new tools_test::orb_environment_t);

std::atomic<int> sessions_alive{0};

log_entry_t Entry(const std::string& who, int32_t severity,
                  const std::string& what, uint32_t index) {
  log_entry_t e;
  e.s_who = who;
  e.severity = severity;
  e.i_what = -7 * severity;
  e.s_what = what;
  e.when = {1999, 12, 31, 23, 59, 58, 999999};
  e.index = index;
  return e;
}

void ExpectSame(const log_entry_t& a, const log_entry_t& b) {
  EXPECT_EQ(a.s_who, b.s_who);
  EXPECT_EQ(a.severity, b.severity);
  EXPECT_EQ(a.i_what, b.i_what);
  EXPECT_EQ(a.s_what, b.s_what);
  EXPECT_EQ(a.when.year, b.when.year);
  EXPECT_EQ(a.when.month, b.when.month);
  EXPECT_EQ(a.when.day, b.when.day);
  EXPECT_EQ(a.when.hour, b.when.hour);
  EXPECT_EQ(a.when.minute, b.when.minute);
  EXPECT_EQ(a.when.second, b.when.second);
  EXPECT_EQ(a.when.microsec, b.when.microsec);
  EXPECT_EQ(a.index, b.index);
}

// Serves `log`, records what it was given, raises what `fail` names and
// opens sessions for user "u" (others get the interface's refusal).
class fake_manager_t : public manager_if_t {
 public:
  explicit fake_manager_t(bool session = false) : session_(session) {
    if (session_) ++sessions_alive;
  }
  ~fake_manager_t() override {
    if (session_) --sessions_alive;
  }

  void get_since(uint32_t since, uint32_t count,
                 log_entry_list_t& out) override {
    numbers = {since, count};
    get_last(count, out);
  }
  void get_last(uint32_t, log_entry_list_t& out) override {
    Raise();
    out = log;
  }
  bool find_relative(log_entry_t& found, uint32_t from, int32_t p1, int32_t p2,
                     int32_t p3) override {
    numbers = {from, p1, p2, p3};
    return Find(found);
  }
  bool find_previous(log_entry_t& found, uint32_t from, int32_t p1,
                     int32_t p2) override {
    numbers = {from, p1, p2};
    return Find(found);
  }
  bool find_next(log_entry_t& found, uint32_t, int32_t, int32_t) override {
    return Find(found);
  }
  void range(uint32_t& first, uint32_t& last) override {
    Raise();
    first = 7;
    last = 3;
  }
  void post(const log_entry_list_t& entries, const log_time_t& when) override {
    log.insert(log.end(), entries.begin(), entries.end());
    posted_when = when;
  }
  void clear_logs() override {
    Raise();
    log.clear();
  }
  manager_if_t* logon(const std::string& user,
                      const std::string& password) override {
    if (user == "u") return new fake_manager_t(true);
    return manager_if_t::logon(user, password);
  }

  log_entry_list_t log;
  std::vector<int64_t> numbers;
  log_time_t posted_when;
  std::string fail;  // "errorcode", "exception", "std", "corba" or none

 private:
  bool Find(log_entry_t& found) {
    if (log.empty()) return false;
    found = log.front();
    return true;
  }
  void Raise() {
    if (fail == "errorcode") throw qo::errorcode_t("50% %s", 0x20000110);
    if (fail == "exception") throw qo::exception_t(std::string("50% %s"));
    if (fail == "std") throw std::runtime_error("std failure");
    if (fail == "corba") throw qo::corba::exception_t("peer gone");
    if (fail == "denied") throw qo::sec::access_denied_t();
  }
  const bool session_;
};

using qo::log::test_support::Outcome;

// An IDL entry, every field, as the tests render native ones.
std::string Render(const qoc::log::entry_t& entry) {
  log_entry_t native;
  to_native(entry, native);
  return test_support::Render(native);
}

class LogServantTest : public testing::Test {
 protected:
  void SetUp() override {
    servant_ = new manager_servant_t(&imp_);
    qo::corba::orb_t::get().servant_add(&imp_, servant_, ior_, "");
    proxy_.reset(proxy_create(ior_.c_str()));
  }
  void TearDown() override {
    if (published_) servant_remove(&imp_, false);
    EXPECT_TRUE(tools_test::eventually([] { return sessions_alive == 0; }));
  }

  // The generated stub, for what the proxy hides.
  qoc::log::manager_i_ptr stub() {
    return static_cast<manager_proxy_t*>(proxy_.get())->object();
  }

  fake_manager_t imp_;
  manager_servant_t* servant_ = nullptr;  // owned by the POA
  std::string ior_;
  std::unique_ptr<manager_if_t> proxy_;
  bool published_ = true;
};

TEST_F(LogServantTest, EntriesAndNumbersCrossFieldByField) {
  imp_.log = {Entry("io\tbus", 3, "line one\nline two\ttab", 10),
              Entry("", -1, "", 11),
              Entry("x", 1000, std::string(5000, 'y'), 0)};
  log_entry_list_t out = {Entry("stale", 0, "stale", 1)};
  proxy_->get_since(5, 9, out);
  EXPECT_EQ(std::vector<int64_t>({5, 9}), imp_.numbers);
  ASSERT_EQ(3u, out.size());
  auto expected = imp_.log.begin();
  for (const log_entry_t& entry : out) ExpectSame(*expected++, entry);

  log_entry_t found = Entry("kept", 2, "kept", 99);
  EXPECT_TRUE(proxy_->find_relative(found, 4, -1, 2, -3));
  EXPECT_EQ(std::vector<int64_t>({4, -1, 2, -3}), imp_.numbers);
  ExpectSame(imp_.log.front(), found);

  uint32_t first = 0;
  uint32_t last = 0;
  proxy_->range(first, last);  // passed through, even inverted
  EXPECT_EQ(7u, first);
  EXPECT_EQ(3u, last);

  imp_.log.clear();
  proxy_->post({Entry("a\tb", 2, "c\nd", 5), Entry("", 0, "", 6)},
               {2031, 1, 2, 3, 4, 5, 6});
  ASSERT_EQ(2u, imp_.log.size());
  ExpectSame(Entry("a\tb", 2, "c\nd", 5), imp_.log.front());
  EXPECT_EQ(2031u, imp_.posted_when.year);
  EXPECT_EQ(6u, imp_.posted_when.microsec);
  proxy_->clear_logs();
  EXPECT_TRUE(imp_.log.empty());
}

TEST_F(LogServantTest, ACollocatedServantsEntriesAreStreamedOneByOne) {
  imp_.log = {Entry("io\tbus", 3, "line one\nline two", 10),
              Entry("", -1, "", 11), Entry("x", 1000, "\xe9t\xe9", 12)};
  test_support::collecting_sink_t sink;
  proxy_->stream_since(5, 9, sink);
  EXPECT_EQ(std::vector<int64_t>({5, 9}), imp_.numbers);
  EXPECT_EQ(std::vector<uint32_t>{3}, sink.begins);
  EXPECT_EQ(test_support::Render(imp_.log), test_support::Render(sink.entries));

  // What the sink throws leaves the call as it is: a CORBA exception is
  // neither translated nor taken for a reason to call again.
  test_support::collecting_sink_t failing;
  failing.on_entry = [](size_t n) {
    if (n == 1) throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
  };
  EXPECT_EQ("raw|TRANSIENT", Outcome([&] { proxy_->stream_last(3, failing); }));
  EXPECT_EQ(1u, failing.entries.size());
  imp_.fail = "errorcode";
  test_support::collecting_sink_t refused;
  EXPECT_EQ("errorcode|50% %s|" + std::to_string(0x20000110),
            Outcome([&] { proxy_->stream_last(3, refused); }));
  EXPECT_TRUE(refused.begins.empty());
}

TEST_F(LogServantTest, EmptyAnswersClearTheListAndMissesLeaveTheRecord) {
  log_entry_list_t out = {Entry("stale", 0, "stale", 1)};
  proxy_->get_last(0, out);
  EXPECT_TRUE(out.empty());
  proxy_->post({}, {});
  EXPECT_TRUE(imp_.log.empty());

  log_entry_t found = Entry("kept", 2, "kept", 99);
  EXPECT_FALSE(proxy_->find_previous(found, 1, 2, 3));
  EXPECT_FALSE(proxy_->find_next(found, 1, 2, 3));
  ExpectSame(Entry("kept", 2, "kept", 99), found);
  // The miss still carries an entry, every field of it zero, even right
  // after a hit whose entry the allocator may hand out again.
  imp_.log = {Entry("hit", 3, "hit", 77)};
  qoc::log::entry_t_var entry;
  EXPECT_TRUE(stub()->find_next(entry, 1, 2, 3));
  imp_.log.clear();
  EXPECT_FALSE(stub()->find_next(entry, 1, 2, 3));
  EXPECT_EQ("|0|0||0.0.0.0.0.0.0.|0", Render(entry.in()));
}

TEST_F(LogServantTest, FailuresKeepTheirCodeAndTextAndLeaveResultsAlone) {
  const std::pair<const char*, std::string> table[] = {
      {"errorcode", "errorcode|50% %s|" + std::to_string(0x20000110)},
      {"exception", "exception|50% %s"},
      {"std", "exception|std failure"},
      {"corba", "exception|peer gone"},  // a server's transport failure
      {"denied", "sec|access denied|" + std::to_string(0x20000401)},
  };
  imp_.log = {Entry("a", 1, "b", 2)};
  for (const auto& row : table) {
    imp_.fail = row.first;
    log_entry_list_t out = {Entry("mine", 0, "mine", 1)};
    uint32_t first = 1;
    uint32_t last = 2;
    EXPECT_EQ(row.second, Outcome([&] { proxy_->get_last(5, out); }))
        << row.first;
    EXPECT_EQ(row.second, Outcome([&] { proxy_->range(first, last); }));
    EXPECT_EQ(row.second, Outcome([&] { proxy_->clear_logs(); }));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ("mine", out.front().s_who);
    EXPECT_EQ(1u, first);
    EXPECT_EQ(2u, last);
  }
}

TEST_F(LogServantTest, LogonServantsSitFlatInThePublishedServantsRegistry) {
  std::unique_ptr<manager_if_t> one(proxy_->logon("u", "p"));
  std::unique_ptr<manager_if_t> two(one->logon("u", "p"));
  EXPECT_EQ(2u, servant_->logon_count());
  EXPECT_EQ(2, sessions_alive);
  EXPECT_TRUE(proxy_servant_exists(one.get()));

  // Deleting a session proxy destroys its servant, and the session with it.
  qoc::log::manager_i_var gone = qoc::log::manager_i::_duplicate(
      static_cast<manager_proxy_t*>(one.get())->object());
  one.reset();
  EXPECT_EQ(1u, servant_->logon_count());
  EXPECT_TRUE(tools_test::eventually([] { return sessions_alive == 1; }));
  manager_proxy_t after(gone);
  EXPECT_FALSE(proxy_servant_exists(&after));

  // Withdrawing the published servant takes the rest; the session proxy's
  // own destroy then fails, silently.
  servant_remove(&imp_, false);
  published_ = false;
  EXPECT_TRUE(tools_test::eventually([] { return sessions_alive == 0; }));
  EXPECT_FALSE(proxy_servant_exists(two.get()));
  two.reset();
}

TEST_F(LogServantTest, RefusedLogonAndDestroyOfThePublishedServant) {
  EXPECT_EQ(
      "sec|invalid username or bad password|" + std::to_string(0x20000402),
      Outcome([&] { proxy_->logon("v", "p"); }));
  EXPECT_EQ("sec|access denied|" + std::to_string(0x20000401), Outcome([&] {
              qo::corba::client_call([&] { stub()->destroy(); });
            }));
  EXPECT_TRUE(proxy_servant_exists(proxy_.get()));
  EXPECT_EQ(0u, servant_->logon_count());
}

TEST_F(LogServantTest, OnlyProxiesCanBeAskedWhetherTheirObjectExists) {
  const std::string refused =
      "exception|proxy_servant_exists: object is not a CORBA proxy";
  EXPECT_EQ(refused, Outcome([&] { proxy_servant_exists(&imp_); }));
  EXPECT_EQ(refused, Outcome([&] { proxy_servant_exists(nullptr); }));
}

}  // namespace
}  // namespace qo::log
