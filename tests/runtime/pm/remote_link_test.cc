#include "runtime/pm/remote_link.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/pm/velto_address.h"
#include "runtime/pm/velto_pump.h"
#include "tests/runtime/pm/fake_repository.h"
#include "tests/support/eventually.h"

namespace qo::pm {
namespace {

using testing::FakeServer;
using testing_support::Eventually;
using Entries = std::map<std::string, std::string>;
using Keys = std::vector<std::string>;

TEST(MirrorChangesTest, SplitsTheListingAgainstTheMirror) {
  struct Case {
    const char* name;
    Keys mirrored;
    std::list<std::string> listing;
    std::string cursor;
    Keys keys, gone, added, refresh;
  };
  const Case cases[] = {
      {"both empty", {}, {}, "", {}, {}, {}, {}},
      {"first listing", {}, {"b", "a"}, "", {"a", "b"}, {}, {"a", "b"}, {}},
      {"host emptied", {"a", "b"}, {}, "a", {}, {"a", "b"}, {}, {}},
      {"duplicates listed once",
       {"a"},
       {"b", "a", "b", "a"},
       "",
       {"a", "b"},
       {},
       {"b"},
       {"a"}},
      {"gone, added and kept",
       {"a", "c", "e"},
       {"e", "d", "a", "b"},
       "",
       {"a", "b", "d", "e"},
       {"c"},
       {"b", "d"},
       {"a", "e"}},
      {"refresh resumes after the cursor",
       {"a", "b", "c", "d"},
       {"d", "c", "b", "a"},
       "b",
       {"a", "b", "c", "d"},
       {},
       {},
       {"c", "d", "a", "b"}},
      {"cursor on a key that has gone",
       {"a", "b", "c", "d"},
       {"a", "b", "d"},
       "c",
       {"a", "b", "d"},
       {"c"},
       {},
       {"d", "a", "b"}},
      {"cursor past the last key",
       {"a", "b"},
       {"a", "b"},
       "z",
       {"a", "b"},
       {},
       {},
       {"a", "b"}},
      {"keys that are prefixes of each other",
       {"10.1.2.1/log_man_v1", "10.1.2.10/log_man_v1"},
       {"10.1.2.10/log_man_v1", "10.1.2.1/log_man_v1", "10.1.2.1"},
       "10.1.2.1/log_man_v1",
       {"10.1.2.1", "10.1.2.1/log_man_v1", "10.1.2.10/log_man_v1"},
       {},
       {"10.1.2.1"},
       {"10.1.2.10/log_man_v1", "10.1.2.1/log_man_v1"}},
  };
  for (const Case& c : cases) {
    mirror_changes_t got = mirror_changes(c.mirrored, c.listing, c.cursor);
    EXPECT_EQ(c.keys, got.keys) << c.name;
    EXPECT_EQ(c.gone, got.gone) << c.name;
    EXPECT_EQ(c.added, got.added) << c.name;
    EXPECT_EQ(c.refresh, got.refresh) << c.name;
  }
}

TEST(VeltoAddressTest, NamesTheRepositoryOfAHost) {
  const std::pair<const char*, const char*> cases[] = {
      {"localhost", "corbaloc:iiop:localhost:4000/velto"},
      {"10.1.2.33", "corbaloc:iiop:10.1.2.33:4000/velto"},
      {"krt-host.local", "corbaloc:iiop:krt-host.local:4000/velto"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, velto_address(c.first));
  EXPECT_EQ(cases[0].second, velto_address(kVeltoLocalHost));
}

// A clock that moves only when the test says, and counts how often the link
// looked at it.
class FakeClock {
 public:
  int64_t Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    return now_;
  }
  void Advance(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += ms;
  }
  int reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  std::mutex mutex_;
  int64_t now_ = 1000000;
  int reads_ = 0;
};

class RemoteLinkTest : public ::testing::Test {
 protected:
  RemoteLinkTest()
      : local_([this] { return local_server_.Connect(); }, 60000),
        link_(
            "10.9.9.9", false, local_,
            [this](const char* address) {
              std::lock_guard<std::mutex> lock(mutex_);
              addresses_.push_back(address);
              return (address == std::string(kFirst) ? first_ : second_)
                  .Connect();
            },
            [this] { return clock_.Now(); }) {}
  ~RemoteLinkTest() override { link_.stop(); }

  Entries Local() { return local_server_.Entries(); }
  bool LocalBecomes(const Entries& want) {
    return Eventually([&] { return Local() == want; });
  }
  size_t Attempts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_.size();
  }
  // Wakes the link and waits until it has looked at the clock again, that
  // is, until it has acted on the wake.
  bool WakeAndWatch() {
    int reads = clock_.reads();
    link_.wake();
    return Eventually([&] { return clock_.reads() > reads; });
  }

  static constexpr const char* kFirst = "corbaloc:iiop:10.9.9.9:4000/velto";

  FakeClock clock_;
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
  EXPECT_TRUE(Eventually([&] { return !link_.connected(); }));
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

TEST_F(RemoteLinkTest, SettersDoNotShortenThePauseAfterAFailure) {
  first_.Down();
  second_.Down();
  link_.start();
  ASSERT_TRUE(Eventually([&] { return Attempts() == 1; }));
  // Every setter, over and over, each round ending with a wake the link
  // acts on: none may bring the next attempt forward.
  for (int round = 0; round < 20; ++round) {
    link_.set_host(round % 2 ? "10.9.9.10" : "10.9.9.9");
    link_.reset();
    link_.set_flag(round % 2 == 0);
    EXPECT_FALSE(link_.connected());
    ASSERT_TRUE(WakeAndWatch()) << round;
  }
  EXPECT_EQ(1u, Attempts());
  clock_.Advance(velto_remote_link_t::kFailurePauseMilliseconds - 1);
  ASSERT_TRUE(WakeAndWatch());
  EXPECT_EQ(1u, Attempts());

  clock_.Advance(1);
  link_.wake();
  ASSERT_TRUE(Eventually([&] { return Attempts() == 2; }));
  // The second failure pauses again.
  for (int round = 0; round < 5; ++round) {
    link_.reset();
    ASSERT_TRUE(WakeAndWatch()) << round;
  }
  EXPECT_EQ(2u, Attempts());

  // Once the pause has passed, a host that answers is mirrored again.
  first_.Restart();
  second_.Restart();
  second_.Set("k", "v");
  clock_.Advance(velto_remote_link_t::kFailurePauseMilliseconds);
  link_.wake();
  EXPECT_TRUE(LocalBecomes({{"k", "v"}}));
  EXPECT_TRUE(link_.connected());
}

TEST_F(RemoteLinkTest, StopEndsThePauseAfterAFailure) {
  first_.Down();
  link_.start();
  ASSERT_TRUE(Eventually([&] { return Attempts() == 1; }));
  ASSERT_TRUE(WakeAndWatch());
  // The clock stands still, so only the stop can end the pause: a stop that
  // waited for it would never return.
  link_.stop();
  EXPECT_EQ(1u, Attempts());
  EXPECT_FALSE(link_.connected());
}

}  // namespace
}  // namespace qo::pm
