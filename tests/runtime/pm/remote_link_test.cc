#include "runtime/pm/remote_link.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/pm/velto_pump.h"
#include "tests/runtime/pm/fake_repository.h"

namespace qo::pm {
namespace {

using testing::FakeServer;
using Entries = std::map<std::string, std::string>;

class RemoteLinkTest : public ::testing::Test {
 protected:
  RemoteLinkTest()
      : local_([this] { return local_server_.Connect(); }, 60000),
        link_("10.9.9.9", false, local_, [this](const char* address) {
          std::lock_guard<std::mutex> lock(mutex_);
          addresses_.push_back(address);
          return (address == std::string(kFirst) ? first_ : second_).Connect();
        }) {}
  ~RemoteLinkTest() override { link_.stop(); }

  Entries Local() { return local_server_.Entries(); }
  bool LocalBecomes(const Entries& want) {
    return FakeServer::Eventually([&] { return Local() == want; });
  }

  static constexpr const char* kFirst = "corbaloc:iiop:10.9.9.9:4000/velto";

  FakeServer first_;
  FakeServer second_;
  FakeServer local_server_;
  velto_pump_t local_;
  velto_remote_link_t link_;
  std::mutex mutex_;
  std::vector<std::string> addresses_;
};

TEST_F(RemoteLinkTest, CopiesAddedAndWithdrawsRemovedKeys) {
  first_.Set("a", "1");
  first_.Set("b", "2");
  link_.start();
  ASSERT_TRUE(LocalBecomes({{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(1, local_server_.Count("publish_ex a 1"));
  EXPECT_TRUE(link_.connected());

  first_.Set("c", "3");
  first_.Erase("a");
  link_.wake();
  EXPECT_TRUE(LocalBecomes({{"b", "2"}, {"c", "3"}}));
}

TEST_F(RemoteLinkTest, RefreshCopiesChangedValues) {
  first_.Set("a", "1");
  link_.start();
  ASSERT_TRUE(LocalBecomes({{"a", "1"}}));
  first_.Set("a", "changed");
  link_.wake();
  EXPECT_TRUE(LocalBecomes({{"a", "changed"}}));
}

TEST_F(RemoteLinkTest, LosingTheHostWithdrawsEveryCopiedKey) {
  first_.Set("a", "1");
  first_.Set("b", "2");
  local_.publish("own", "x");
  link_.start();
  ASSERT_TRUE(LocalBecomes({{"a", "1"}, {"b", "2"}, {"own", "x"}}));
  first_.Down();
  link_.wake();
  EXPECT_TRUE(LocalBecomes({{"own", "x"}}));
  EXPECT_TRUE(FakeServer::Eventually([&] { return !link_.connected(); }));
  local_.unpublish("own");
}

TEST_F(RemoteLinkTest, ChangingTheHostWithdrawsBeforeTheNewContact) {
  first_.Set("a", "1");
  second_.Set("z", "26");
  link_.start();
  ASSERT_TRUE(LocalBecomes({{"a", "1"}}));
  link_.set_host("10.9.9.10");
  ASSERT_TRUE(LocalBecomes({{"z", "26"}}));
  std::vector<std::string> log = local_server_.Log();
  auto withdrawn = std::find(log.begin(), log.end(), "unpublish a");
  auto copied = std::find(log.begin(), log.end(), "publish_ex z 1");
  EXPECT_LT(withdrawn, copied);
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ("corbaloc:iiop:10.9.9.10:4000/velto", addresses_.back());
}

TEST_F(RemoteLinkTest, StoppingWithdrawsEverything) {
  first_.Set("a", "1");
  link_.start();
  ASSERT_TRUE(LocalBecomes({{"a", "1"}}));
  link_.stop();
  EXPECT_EQ(Entries(), Local());
}

TEST_F(RemoteLinkTest, EmptyHostMakesNoContact) {
  link_.set_host("");
  link_.start();
  link_.wake();
  link_.stop();
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_TRUE(addresses_.empty());
  EXPECT_FALSE(link_.connected());
}

}  // namespace
}  // namespace qo::pm
