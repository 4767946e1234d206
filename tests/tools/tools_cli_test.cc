// velto-repo and krt-sim as a technician runs them: ready lines, options,
// refusals with their exit statuses, units announced and withdrawn, units
// coming back to a restarted repository, and stops that are clean even
// while a call hangs.
#include <signal.h>

#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "runtime/log/log_module.h"
#include "runtime/pm/pm_module.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace tools_test {
namespace {

using Args = std::vector<std::string>;
using Keys = std::list<std::string>;
using testing_support::RunProcess;

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new orb_environment_t);

const char kSimUsage[] =
    "usage: krt-sim [--units N] [--first-address A] [--address A]... "
    "[--entries N] [--seed S] [--user U] [--password P] "
    "[--fault ADDRESS:KIND[:ARG]]... [--delay ADDRESS:SECONDS]... "
    "[--grow ADDRESS:ENTRIES_PER_SECOND]... [--cap ADDRESS:MAX_ENTRIES]... "
    "[--listen HOST]\n";

// The unit keys the repository on 127.0.0.1 holds; empty when it cannot be
// reached.
Keys UnitKeys() {
  Keys keys;
  try {
    std::unique_ptr<qo::pm::repository_if_t> repo(qo::pm::velto_connect());
    repo->keys_get("*/log_man_v1", keys, false);
  } catch (const qo::corba::exception_t&) {
  }
  return keys;
}

std::string Value(const std::string& key) {
  std::unique_ptr<qo::pm::repository_if_t> repo(qo::pm::velto_connect());
  std::string value;
  repo->value_get(key, value);
  return value;
}

class ToolsCliTest : public testing::Test {
 protected:
  std::unique_ptr<server_t> Repo(const std::string& address = "127.0.0.1") {
    auto repo = std::make_unique<server_t>(
        velto_repo_argv(address), dir_.File("repo" + std::to_string(++n_)),
        "velto-repo ready");
    EXPECT_TRUE(repo->ready()) << repo->output();
    return repo;
  }
  std::unique_ptr<server_t> Sim(const Args& args) {
    auto sim = std::make_unique<server_t>(
        krt_sim_argv(args), dir_.File("sim" + std::to_string(++n_)),
        "krt-sim ready");
    EXPECT_TRUE(sim->ready()) << sim->output();
    return sim;
  }
  testing_support::TempDir dir_;
  int n_ = 0;
};

TEST_F(ToolsCliTest, VeltoRepoSaysWhereItListensAndStopsCleanly) {
  for (int signal : {SIGTERM, SIGINT}) {
    auto repo = Repo();
    EXPECT_EQ("velto-repo ready on 127.0.0.1:4000\n", repo->output());
    EXPECT_EQ(0, repo->stop(signal));
  }
  auto other = Repo("127.0.0.2");
  EXPECT_EQ("velto-repo ready on 127.0.0.2:4000\n", other->output());
  EXPECT_EQ(0, other->stop());
}

TEST_F(ToolsCliTest, VeltoRepoRefusesATakenPortAndBadOptions) {
  auto repo = Repo();
  auto taken = RunProcess({VELTO_REPO_BIN});
  EXPECT_EQ(1, taken.status);
  EXPECT_EQ("", taken.out);
  EXPECT_EQ(
      "velto-repo: cannot listen on 127.0.0.1:4000: Address already in use\n",
      taken.err);
  EXPECT_EQ(0, repo->stop());

  for (const Args& args : {Args{"--bogus"}, Args{"--address"},
                           Args{"--address", "nowhere"}, Args{"stray"}}) {
    Args argv = {VELTO_REPO_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = RunProcess(argv);
    EXPECT_EQ(2, r.status) << args[0];
    EXPECT_EQ("", r.out);
    const std::string usage = "usage: velto-repo [--address A]\n";
    ASSERT_GE(r.err.size(), usage.size());
    EXPECT_EQ(usage, r.err.substr(r.err.size() - usage.size()));
  }
}

TEST_F(ToolsCliTest, KrtSimRefusesBadOptionsBeforeStarting) {
  for (const Args& args :
       {Args{"--units", "many"}, Args{"--fault", "10.1.2.1:sideways"},
        Args{"--fault", "10.9.9.9:empty"}}) {
    auto r = RunProcess(krt_sim_argv(args));
    EXPECT_EQ(2, r.status) << args[0];
    EXPECT_EQ("", r.out);
    ASSERT_GE(r.err.size(), sizeof(kSimUsage) - 1);
    EXPECT_EQ(kSimUsage, r.err.substr(r.err.size() - (sizeof(kSimUsage) - 1)));
  }
}

TEST_F(ToolsCliTest, HelpAndVersionGoToStandardOutputAndExitZero) {
  const Args velto = {VELTO_REPO_BIN}, sim = krt_sim_argv({});
  for (const Args& program : {velto, sim}) {
    const std::string name = program == velto ? "velto-repo" : "krt-sim";
    auto help = RunProcess({program[0], "--units", "x", "--help"});
    EXPECT_EQ(0, help.status) << name;
    EXPECT_EQ(0u, help.out.find("usage: " + name + " [--")) << help.out;
    EXPECT_NE(std::string::npos, help.out.find(" --version\n")) << help.out;
    auto version = RunProcess({program[0], "--version"});
    EXPECT_EQ(0, version.status) << name;
    EXPECT_EQ(name + " " + KRTLOGS_VERSION_FOR_TEST + "\n", version.out);
  }
}

TEST_F(ToolsCliTest, UnitsAreAnnouncedAndWithdrawn) {
  auto repo = Repo();
  auto sim = Sim({"--units", "3", "--first-address", "10.1.2.254", "--fault",
                  "10.1.2.255:bad-reference", "--delay", "10.1.3.0:1"});
  EXPECT_EQ("krt-sim ready: 2 units\n", sim->output());
  EXPECT_EQ(0u, Value("10.1.2.254/log_man_v1").rfind("IOR:", 0));
  EXPECT_EQ("not-a-reference", Value("10.1.2.255/log_man_v1"));
  EXPECT_THROW(qo::log::proxy_create("not-a-reference"),
               qo::corba::exception_t);
  EXPECT_TRUE(eventually([] { return UnitKeys().size() == 3; }));
  std::unique_ptr<qo::log::manager_if_t> late(
      qo::log::proxy_create(Value("10.1.3.0/log_man_v1").c_str()));
  uint32_t first = 0, last = 0;
  late->range(first, last);
  EXPECT_EQ(100u, last - first);

  EXPECT_EQ(0, sim->stop());
  EXPECT_EQ(Keys(), UnitKeys());
  EXPECT_EQ(0, repo->stop());
}

TEST_F(ToolsCliTest, UnitsComeBackToARepositoryThatStartsOrRestarts) {
  auto sim = Sim({"--units", "2"});  // no repository yet
  EXPECT_EQ("krt-sim ready: 2 units\n", sim->output());
  const Keys both = {"10.1.2.1/log_man_v1", "10.1.2.2/log_man_v1"};
  auto repo = Repo();
  EXPECT_TRUE(eventually([&] { return UnitKeys() == both; }));
  repo->stop(SIGKILL);
  repo = Repo();
  EXPECT_TRUE(eventually([&] { return UnitKeys() == both; }));
  EXPECT_EQ(0, sim->stop());
  EXPECT_EQ(0, repo->stop());
}

TEST_F(ToolsCliTest, KrtSimStopsCleanlyWhileACallHangs) {
  auto repo = Repo();
  auto sim = Sim({"--units", "1", "--fault", "10.1.2.1:hang:range"});
  std::unique_ptr<qo::log::manager_if_t> unit(
      qo::log::proxy_create(Value("10.1.2.1/log_man_v1").c_str()));
  bool failed = false;
  std::thread caller([&] {
    uint32_t first = 0, last = 0;
    try {
      unit->range(first, last);
    } catch (const std::exception&) {
      failed = true;
    }
  });
  EXPECT_EQ(0, sim->stop());
  caller.join();
  EXPECT_TRUE(failed);
  EXPECT_EQ(0, repo->stop());
}

}  // namespace
}  // namespace tools_test
