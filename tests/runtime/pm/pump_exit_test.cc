// A process whose ORB has been stopped ends with the process-wide pump
// still holding its proxy (and, when something is published, its ping
// thread running): the pump's destruction at exit must neither crash nor
// hang. Each case is a child process that returns from its body and
// exits; its exit status is part of what is checked.
#include <string>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/pm/velto_pump.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace qo::pm {
namespace {

std::string UseThePumpAndStop(bool publish) {
  corba::orb_t::init("iiop://127.0.0.1", false, 2);
  corba::orb_t::start_instance();
  std::list<std::string> keys;
  if (publish) velto_pump_t::get()->publish("exit/test", "1");
  velto_pump_t::get()->keys_get("*", keys, false);
  corba::orb_t::stop_instance();
  return std::to_string(keys.size()) + " keys";
}

TEST(PumpExitTest, ThePumpOutlivesAStoppedOrbQuietly) {
  testing_support::TempDir dir;
  tools_test::server_t repo(tools_test::velto_repo_argv(), dir.File("repo"),
                            "velto-repo ready");
  ASSERT_TRUE(repo.ready()) << repo.output();
  EXPECT_EQ("0 keys", testing_support::RunInChild(
                          [] { return UseThePumpAndStop(false); }));
  EXPECT_EQ("1 keys", testing_support::RunInChild(
                          [] { return UseThePumpAndStop(true); }));
  EXPECT_EQ(0, repo.stop()) << repo.output();
}

}  // namespace
}  // namespace qo::pm
