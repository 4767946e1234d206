#include "runtime/pm/velto_pump.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/runtime/pm/fake_repository.h"
#include "tests/support/eventually.h"

namespace qo::pm {
namespace {

using testing::FakeServer;
using testing_support::Eventually;
using Lines = std::vector<std::string>;

class VeltoPumpTest : public ::testing::Test {
 protected:
  VeltoPumpTest() : pump_([this] { return server_.Connect(); }, 20) {}

  FakeServer server_;
  velto_pump_t pump_;
};

TEST_F(VeltoPumpTest, WithoutARepositoryNothingIsFoundAndNothingThrows) {
  server_.Down();
  std::string value = "kept";
  EXPECT_FALSE(pump_.value_get("a", value));
  EXPECT_EQ("kept", value);
  std::list<std::string> keys = {"earlier"};
  EXPECT_NO_THROW(pump_.keys_get("*", keys, false));
  EXPECT_EQ(std::list<std::string>({"earlier"}), keys);
  EXPECT_NO_THROW(pump_.ping());
  EXPECT_NO_THROW(pump_.unpublish("a"));
  server_.Restart();
  // Each call tries to connect again.
  EXPECT_FALSE(pump_.value_get("a", value));
  EXPECT_EQ(1, server_.connects());
}

TEST_F(VeltoPumpTest, ForwardsToOneConnection) {
  server_.Set("10.1.2.7/log_man_v1", "IOR:7");
  server_.Set("other", "x");
  std::list<std::string> keys;
  pump_.keys_get("*/log_man_v1", keys, false);
  pump_.keys_get("*/log_man_v1", keys, false);
  EXPECT_EQ(
      std::list<std::string>({"10.1.2.7/log_man_v1", "10.1.2.7/log_man_v1"}),
      keys);
  std::string value;
  EXPECT_TRUE(pump_.value_get("10.1.2.7/log_man_v1", value));
  EXPECT_EQ("IOR:7", value);
  EXPECT_EQ(1, server_.connects());
}

TEST_F(VeltoPumpTest, UnchangedPublishSendsNothing) {
  pump_.publish_ex("k", "v", 1);
  pump_.publish_ex("k", "v", 1);
  pump_.publish("k", "v");
  EXPECT_EQ(1, server_.Count("publish_ex k"));
  pump_.publish("k", "w");
  EXPECT_EQ(Lines({"publish_ex k 1", "publish_ex k 0"}), [&] {
    Lines publishes;
    for (const auto& l : server_.Log()) {
      if (l.rfind("publish", 0) == 0) publishes.push_back(l);
    }
    return publishes;
  }());
  EXPECT_EQ("w", server_.Entries()["k"]);
  pump_.unpublish("k");
}

TEST_F(VeltoPumpTest, RestartedRepositoryGetsEntriesBackInKeyOrderFirst) {
  // A pump whose thread pings once and then sleeps for the whole test, so
  // that the caller is the one who reconnects.
  velto_pump_t pump([this] { return server_.Connect(); }, 600000);
  pump.publish("c", "3");
  pump.publish("a", "1");
  pump.publish("b", "2");
  ASSERT_TRUE(Eventually([&] { return server_.Count("ping") > 0; }));
  server_.Down();
  std::string value;
  EXPECT_FALSE(pump.value_get("a", value));
  server_.Restart();
  server_.ClearLog();
  EXPECT_TRUE(pump.value_get("b", value));
  EXPECT_EQ("2", value);
  EXPECT_EQ(Lines({"publish a", "publish b", "publish c", "value_get b"}),
            server_.Log());
  for (const char* key : {"a", "b", "c"}) pump.unpublish(key);
}

TEST_F(VeltoPumpTest, PingThreadRestoresEntriesWithoutACaller) {
  pump_.publish("k", "v");
  ASSERT_TRUE(Eventually([&] { return server_.Count("ping") > 0; }));
  server_.Down();
  server_.Restart();
  EXPECT_TRUE(Eventually([&] { return server_.Entries().count("k") == 1; }));
  pump_.unpublish("k");
}

TEST_F(VeltoPumpTest, PingThreadRunsOnlyWhileSomethingIsPublished) {
  pump_.publish("k", "v");
  ASSERT_TRUE(Eventually([&] { return server_.Count("ping") > 1; }));
  pump_.unpublish("k");
  // unpublish returns after the thread has been joined: no ping follows.
  int pings = server_.Count("ping");
  std::string value;
  pump_.value_get("k", value);
  pump_.value_get("k", value);
  EXPECT_EQ(pings, server_.Count("ping"));
  pump_.publish("k", "v2");
  EXPECT_TRUE(Eventually([&] { return server_.Count("ping") > pings; }));
  pump_.unpublish("k");
}

TEST_F(VeltoPumpTest, NotifyWithoutARepositoryFails) {
  server_.Down();
  EXPECT_THROW(pump_.notify("a", "b", 1, 2), qo::corba::exception_t);
  EXPECT_THROW(pump_.notify_ex("a", "b", "c", 1, 2), qo::corba::exception_t);
}

TEST_F(VeltoPumpTest, NotifyReportsTheTransportFailureAndReconnects) {
  pump_.ping();
  server_.Down();
  EXPECT_THROW(pump_.notify("a", "b", 1, 2), qo::corba::exception_t);
  server_.Restart();
  EXPECT_NO_THROW(pump_.notify_ex("a", "b", "c", 1, 2));
  EXPECT_EQ(2, server_.connects());
}

TEST_F(VeltoPumpTest, RepositoryErrorsPassThrough) {
  server_.FailNext(0x20000403);
  std::string value;
  try {
    pump_.value_get("a", value);
    FAIL() << "no throw";
  } catch (const qo::errorcode_t& e) {
    EXPECT_EQ(0x20000403u, e.code());
  }
  // The connection stays: an answer is not a transport failure.
  EXPECT_FALSE(pump_.value_get("a", value));
  EXPECT_EQ(1, server_.connects());
}

// The pump hides transport failures; whoever needs the reason asks.
TEST_F(VeltoPumpTest, TellsWhyTheLastCallGotNoAnswer) {
  std::list<std::string> keys;
  std::string value;
  server_.Down();
  pump_.keys_get("*", keys, false);  // no connection can be made
  EXPECT_THROW(std::rethrow_exception(pump_.last_failure()),
               qo::corba::exception_t);
  server_.Restart();
  pump_.keys_get("*", keys, false);
  EXPECT_FALSE(pump_.last_failure());
  server_.Down();
  EXPECT_FALSE(pump_.value_get("a", value));  // the connection breaks
  EXPECT_THROW(std::rethrow_exception(pump_.last_failure()),
               qo::corba::exception_t);
  // An error the repository raises is thrown to the caller, not kept.
  server_.Restart();
  server_.FailNext(0x20000403);
  EXPECT_THROW(pump_.value_get("a", value), qo::errorcode_t);
  EXPECT_FALSE(pump_.last_failure());
}

TEST_F(VeltoPumpTest, ACallTimeoutTakesEffectWithANewConnection) {
  std::vector<uint32_t> limits;
  velto_pump_t pump(velto_pump_t::timed_connector_t([&](uint32_t ms) {
                      limits.push_back(ms);
                      return server_.Connect();
                    }),
                    20);
  pump.ping();
  pump.set_call_timeout(3000);
  pump.ping();
  pump.ping();
  EXPECT_EQ(std::vector<uint32_t>({0, 3000}), limits);
}

}  // namespace
}  // namespace qo::pm
