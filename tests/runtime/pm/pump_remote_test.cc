// The pump over real proxies (velto_connect) against a repository process
// that lists every request it gets: no repository at all, a repository
// killed and restarted (entries back in key order before anything else,
// noticed by the ping thread unasked), and publish_ex of an unchanged
// value, which sends nothing.
#include <signal.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "runtime/pm/pm_module.h"
#include "runtime/pm/velto_pump.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace qo::pm {
namespace {

using Lines = std::vector<std::string>;
using tools_test::eventually;
using tools_test::server_t;

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new tools_test::orb_environment_t);

class PumpRemoteTest : public testing::Test {
 protected:
  ~PumpRemoteTest() override {
    for (const char* key : {"a", "b", "c", "k", "x"}) {
      pump_.unpublish(key);
    }
  }

  // Starts a recording repository on 127.0.0.1:4000.
  void StartRepository() {
    repo_ = std::make_unique<server_t>(
        std::vector<std::string>{RECORDING_REPO_BIN, "127.0.0.1"},
        dir_.File("repo" + std::to_string(++starts_)), "ready\n");
    ASSERT_TRUE(repo_->ready()) << repo_->output();
  }
  // The requests the current repository received, in order.
  Lines Requests() {
    std::istringstream text(repo_->output());
    Lines lines;
    std::string line;
    while (std::getline(text, line)) {
      if (line != "ready") lines.push_back(line);
    }
    return lines;
  }
  // Requests other than the ping thread's.
  Lines Calls() {
    Lines lines = Requests();
    lines.erase(std::remove(lines.begin(), lines.end(), "ping"), lines.end());
    return lines;
  }
  bool Received(const std::string& line) {
    Lines lines = Requests();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  testing_support::TempDir dir_;
  std::unique_ptr<server_t> repo_;
  int starts_ = 0;
  velto_pump_t pump_{[] { return velto_connect(); }};
};

TEST_F(PumpRemoteTest, WithoutARepositoryNothingIsFoundAndNothingThrows) {
  std::string value = "kept";
  EXPECT_FALSE(pump_.value_get("k", value));
  EXPECT_EQ("kept", value);
  std::list<std::string> keys = {"earlier"};
  pump_.keys_get("*", keys, false);
  EXPECT_EQ(std::list<std::string>({"earlier"}), keys);
  pump_.publish_ex("k", "v", 1);
  pump_.ping();
  EXPECT_THROW(pump_.notify("n", "m", 1, 2), qo::corba::exception_t);

  // The entry published meanwhile reaches the repository on first contact.
  StartRepository();
  EXPECT_TRUE(pump_.value_get("k", value));
  EXPECT_EQ("v", value);
  EXPECT_EQ(Lines({"publish k v", "value_get k"}), Calls());
}

TEST_F(PumpRemoteTest, ARestartedRepositoryGetsEveryEntryBackFirst) {
  StartRepository();
  pump_.publish_ex("b", "2", 1);
  pump_.publish_ex("c", "3", 1);
  pump_.publish_ex("a", "1", 1);
  EXPECT_EQ(Lines({"publish_ex b 2 1", "publish_ex c 3 1", "publish_ex a 1 1"}),
            Calls());
  repo_->stop(SIGKILL);
  StartRepository();  // empty
  std::list<std::string> keys;
  EXPECT_TRUE(eventually([&] {
    keys.clear();
    pump_.keys_get("*", keys, false);
    return keys.size() == 3;
  }));
  // Whoever reconnected (this caller or the ping thread), the entries came
  // back with publish, in key order, before any other request.
  Lines requests = Requests();
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(Lines({"publish a 1", "publish b 2", "publish c 3"}),
            Lines(requests.begin(), requests.begin() + 3));
  EXPECT_TRUE(Received("keys_get *"));
}

TEST_F(PumpRemoteTest, ThePingThreadNoticesALostRepositoryUnasked) {
  StartRepository();
  pump_.publish("x", "1");
  EXPECT_TRUE(eventually([&] { return Received("ping"); }));
  repo_->stop(SIGKILL);
  StartRepository();
  // No call from here: the thread reconnects, restores and pings on.
  EXPECT_TRUE(eventually([&] { return Received("ping"); }));
  EXPECT_EQ("publish x 1", Requests().front());
}

TEST_F(PumpRemoteTest, AnUnchangedPublishExSendsNothing) {
  StartRepository();
  pump_.publish_ex("k", "v", 1);
  pump_.publish_ex("k", "v", 1);
  pump_.publish("k", "v");
  pump_.publish_ex("k", "w", 1);
  std::string value;
  pump_.value_get("k", value);
  EXPECT_EQ(Lines({"publish_ex k v 1", "publish_ex k w 1", "value_get k"}),
            Calls());
}

TEST(ProcessPumpTest, IsOneObjectAndNoProxy) {
  EXPECT_EQ(velto_pump_t::get(), velto_pump_t::get());
  try {
    proxy_servant_exists(velto_pump_t::get());
    ADD_FAILURE() << "no exception";
  } catch (const qo::exception_t& e) {
    EXPECT_STREQ("proxy_servant_exists: object is not a CORBA proxy", e.what());
  }
}

}  // namespace
}  // namespace qo::pm
