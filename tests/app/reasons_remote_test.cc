// The words for each failure as real units cause them: krt-sim's faults
// reached through log manager proxies over the ORB, as the tool reaches
// them, described by the one mapping the tool uses.
#include <signal.h>

#include <functional>
#include <memory>
#include <string>

#include "app/reasons.h"
#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/log/log_module.h"
#include "runtime/pm/pm_module.h"
#include "tests/runtime/corba/probe.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace krtlogs_test {
namespace {

using qo::log::manager_if_t;
using tools_test::server_t;

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new tools_test::orb_environment_t);

constexpr uint32_t kShortTimeoutSeconds = 1;
constexpr uint32_t kMillisecondsPerSecond = 1000;

class ReasonsRemoteTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing_support::TempDir;
    repo_ = new server_t(tools_test::velto_repo_argv(), dir_->File("repo"),
                         "velto-repo ready");
    if (!repo_->ready()) return;
    units_ =
        new server_t(tools_test::krt_sim_argv(
                         {"--address", "10.1.4.1",
                          "--address", "10.1.4.2",
                          "--address", "10.1.4.3",
                          "--address", "10.1.4.4",
                          "--address", "10.1.4.5",
                          "--entries", "20",
                          "--fault",   "10.1.4.1:hang:get_last",
                          "--fault",   "10.1.4.2:get-last-error:0x20000105",
                          "--fault",   "10.1.4.3:bad-reference",
                          "--fault",   "10.1.4.4:no-clear",
                          "--fault",   "10.1.4.5:range-error:0x20000402"}),
                     dir_->File("units"), "krt-sim ready: 5 units");
  }
  static void TearDownTestSuite() {
    for (server_t* server : {units_, repo_}) {
      if (server == nullptr) continue;
      EXPECT_EQ(0, server->stop()) << server->output();
      delete server;
    }
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(repo_->ready()) << repo_->output();
    ASSERT_TRUE(units_->ready()) << units_->output();
  }
  void TearDown() override { qo::corba::orb_t::set_round_trip_timeout(0); }

  static std::string Published(const std::string& address) {
    std::unique_ptr<qo::pm::repository_if_t> repo(qo::pm::velto_connect());
    std::string ior;
    EXPECT_TRUE(repo->value_get(address + "/log_man_v1", ior)) << address;
    return ior;
  }

  // What the tool would say for `operation` on the unit at `reference`:
  // the proxy is made first, and a failure there is the reference's.
  static std::string Outcome(
      const std::string& reference,
      const std::function<void(manager_if_t&)>& operation,
      uint32_t timeout_seconds = 60) {
    SReasonContext context;
    context.timeout_seconds = timeout_seconds;
    std::unique_ptr<manager_if_t> unit;
    try {
      context.making_reference = true;
      unit.reset(qo::log::proxy_create(reference.c_str()));
      context.making_reference = false;
      operation(*unit);
    } catch (...) {
      return DescribeCurrentException(context).Text();
    }
    return "succeeded";
  }

  static void Range(manager_if_t& unit) {
    uint32_t first = 0;
    uint32_t last = 0;
    unit.range(first, last);
  }
  static void GetLast(manager_if_t& unit) {
    qo::log::log_entry_list_t entries;
    unit.get_last(20, entries);
  }

  static testing_support::TempDir* dir_;
  static server_t* repo_;
  static server_t* units_;
};

testing_support::TempDir* ReasonsRemoteTest::dir_ = nullptr;
server_t* ReasonsRemoteTest::repo_ = nullptr;
server_t* ReasonsRemoteTest::units_ = nullptr;

TEST_F(ReasonsRemoteTest, FaultsOfUnitsInPlainWords) {
  EXPECT_EQ(
      "the unit refused (unit error 0x20000105: bad function name specified "
      "in configuration file)",
      Outcome(Published("10.1.4.2"), GetLast));
  EXPECT_EQ(
      "the published reference is not a valid object reference [BAD_PARAM "
      "(BAD_PARAM_BadSchemeName, completed = NO)]",
      Outcome(Published("10.1.4.3"), Range));
  EXPECT_EQ("access denied [error 0x20000401]",
            Outcome(Published("10.1.4.4"),
                    [](manager_if_t& unit) { unit.clear_logs(); }));
  EXPECT_EQ(
      "logon refused (invalid username or bad password) [error "
      "0x20000402]",
      Outcome(Published("10.1.4.5"), Range));
  // The unit's process runs, but no log manager answers to this key.
  std::string wrong_key = probe::corbaloc_of(Published("10.1.4.1"), "gone");
  ASSERT_FALSE(wrong_key.empty());
  EXPECT_EQ(
      "the unit's log manager no longer exists [OBJECT_NOT_EXIST "
      "(OBJECT_NOT_EXIST_NoMatch, completed = NO)]",
      Outcome(wrong_key, Range));
}

TEST_F(ReasonsRemoteTest, AHungUnitGetsNoAnswerWithinTheTimeOut) {
  qo::corba::orb_t::set_round_trip_timeout(kShortTimeoutSeconds *
                                           kMillisecondsPerSecond);
  EXPECT_EQ(
      "no answer within 1 s [TIMEOUT (TIMEOUT_CallTimedOutOnClient, "
      "completed = MAYBE)]",
      Outcome(Published("10.1.4.1"), GetLast, kShortTimeoutSeconds));
}

TEST_F(ReasonsRemoteTest, AKilledUnitLosesTheConnectionThenRefusesIt) {
  server_t unit(tools_test::krt_sim_argv({"--address", "10.1.5.1"}),
                dir_->File("killed"), "krt-sim ready: 1 units");
  ASSERT_TRUE(unit.ready()) << unit.output();
  std::string reference = Published("10.1.5.1");
  std::unique_ptr<manager_if_t> proxy(qo::log::proxy_create(reference.c_str()));
  Range(*proxy);  // the connection is up
  unit.stop(SIGKILL);
  auto plain = [&] {
    try {
      Range(*proxy);
    } catch (...) {
      return DescribeCurrentException(SReasonContext()).plain;
    }
    return std::string("succeeded");
  };
  EXPECT_EQ("connection lost", plain());
  EXPECT_EQ("cannot connect (refused or unreachable)", plain());
}

}  // namespace
}  // namespace krtlogs_test
