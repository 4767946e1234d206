#include <chrono>
#include <exception>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/krt_log_extractor.h"
#include "gtest/gtest.h"
#include "tests/app/extractor_fakes.h"

namespace krtlogs_test {
namespace {

using Lines = std::vector<std::string>;

class DiscoveryTest : public testing::Test {
 protected:
  DiscoveryTest()
      : extractor_(&listener_, &repository_, fleet_.Factory(), 0,
                   diagnostics_) {
    extractor_.SetRepositoryFailureProbe(
        [this] { return repository_.swallowed; });
    extractor_.SetClock([this] { return now_; });
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& u : extractor_.units()) names.push_back(u.name);
    return names;
  }

  // Every keys_get from query `from` on waits for the repository's
  // time-out and then, as the pump does, answers nothing.
  void HangFrom(int from) {
    repository_.before_keys_get = [this, from](int query) {
      if (query < from) return;
      now_ +=
          std::chrono::milliseconds(CKRTLogExtractor::kRepositoryCallTimeoutMs);
      repository_.swallowed = std::make_exception_ptr(Timeout());
    };
  }

  static qo::corba::exception_t Timeout() {
    qo::corba::system_exception_info_t info{"TIMEOUT", 0x41540008,
                                            "TIMEOUT_CallTimedOutOnClient",
                                            qo::corba::completion_t::maybe};
    return qo::corba::exception_t("timed out", info);
  }
  static qo::corba::exception_t Refused() {
    qo::corba::system_exception_info_t info{"TRANSIENT", 0x41540002,
                                            "TRANSIENT_ConnectFailed",
                                            qo::corba::completion_t::no};
    return qo::corba::exception_t("refused", info);
  }

  std::vector<std::string> Diagnostics() const {
    std::vector<std::string> lines;
    std::istringstream in(diagnostics_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::chrono::steady_clock::time_point now_;
  FakeRepository repository_;
  FakeFleet fleet_;
  RecordingListener listener_;
  std::ostringstream diagnostics_;
  CKRTLogExtractor extractor_;
};

const char kTimeoutLine[] =
    "krtlogs: Velto repository: keys_get: no answer within 3 s [TIMEOUT "
    "(TIMEOUT_CallTimedOutOnClient, completed = MAYBE)]";

TEST_F(DiscoveryTest, FindKrtWaitsForALateKey) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  repository_.Add("10.1.2.33/log_man_v1", "IOR:33", 4);
  ASSERT_TRUE(extractor_.FindKRT("10.1.2.33"));
  EXPECT_EQ(4, repository_.queries);
  EXPECT_EQ(Lines({"Searching for Velto Keys", "Found KRT at 10.1.2.33"}),
            listener_.lines);
  ASSERT_EQ(1u, extractor_.units().size());
  const auto& unit = extractor_.units().front();
  EXPECT_EQ("10.1.2.33/log_man_v1", unit.key);
  EXPECT_EQ("IOR:33", unit.ior);
  EXPECT_EQ("33", unit.name);
  EXPECT_EQ(0x0A010221u, unit.address);
  EXPECT_EQ("*/log_man_v1", repository_.patterns[0]);
}

TEST_F(DiscoveryTest, FindKrtGivesUpAfterTenQueries) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  EXPECT_FALSE(extractor_.FindKRT("10.1.2.33"));
  EXPECT_EQ(10, repository_.queries);
  EXPECT_TRUE(extractor_.units().empty());
  EXPECT_EQ(Lines({"Searching for Velto Keys"}), listener_.lines);
}

TEST_F(DiscoveryTest, FindKrtComparesTheAddressText) {
  repository_.Add("10.1.2.33/log_man_v1", "IOR:33");
  EXPECT_FALSE(extractor_.FindKRT("10.1.2.033"));
  EXPECT_FALSE(extractor_.FindKRT(""));
}

TEST_F(DiscoveryTest, FindKrtsWithCountZeroQueriesOnce) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  EXPECT_TRUE(extractor_.FindKRTs(0));
  EXPECT_EQ(1, repository_.queries);
  EXPECT_TRUE(extractor_.units().empty());
  EXPECT_FALSE(extractor_.FindKRTs(-1));
  EXPECT_EQ(Lines({"Searching for Velto Keys", "Searching for Velto Keys"}),
            listener_.lines);
}

TEST_F(DiscoveryTest, FindKrtsTakesTheFirstKeysInRepositoryOrder) {
  for (int i : {40, 7, 33, 12, 20}) {
    repository_.Add("10.1.2." + std::to_string(i) + "/log_man_v1",
                    "IOR:" + std::to_string(i));
  }
  EXPECT_TRUE(extractor_.FindKRTs(3));
  EXPECT_EQ(Lines({"Searching for Velto Keys", "Found an KRT at 10.1.2.40",
                   "Found an KRT at 10.1.2.7", "Found an KRT at 10.1.2.33"}),
            listener_.lines);
  // Held sorted by address whatever the order found.
  EXPECT_EQ(std::vector<std::string>({"7", "33", "40"}), Names());
  // The pass that completes the search still ends with one more query.
  EXPECT_EQ(2, repository_.queries);
}

TEST_F(DiscoveryTest, FindKrtsRecordsAKeyOnceAcrossQueries) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  repository_.Add("10.1.2.8/log_man_v1", "IOR:8", 3);
  EXPECT_TRUE(extractor_.FindKRTs(2));
  EXPECT_EQ(Lines({"Searching for Velto Keys", "Found an KRT at 10.1.2.7",
                   "Found an KRT at 10.1.2.8"}),
            listener_.lines);
  EXPECT_EQ(2u, extractor_.units().size());
}

TEST_F(DiscoveryTest, FindKrtsKeepsWhatItFoundWhenShort) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  EXPECT_FALSE(extractor_.FindKRTs(2));
  EXPECT_EQ(10, repository_.queries);
  EXPECT_EQ(1u, extractor_.units().size());
}

TEST_F(DiscoveryTest, LastNumberIsReadLikePercentI) {
  repository_.Add("10.1.2.010/log_man_v1", "IOR:octal");
  repository_.Add("10.1.2.0x21/log_man_v1", "IOR:hex");
  repository_.Add("unit-a/log_man_v1", "IOR:text");
  repository_.Add("10.1/log_man_v1", "IOR:short");
  ASSERT_TRUE(extractor_.FindKRTs(4));
  std::vector<std::pair<std::string, uint32_t>> got;
  for (const auto& u : extractor_.units()) got.push_back({u.name, u.address});
  std::vector<std::pair<std::string, uint32_t>> want = {
      {"0", 0},              // unit-a: nothing readable
      {"0", 0x0A010000u},    // 10.1
      {"8", 0x0A010208u},    // octal 010
      {"33", 0x0A010221u}};  // hexadecimal 0x21
  EXPECT_EQ(want, got);
}

TEST_F(DiscoveryTest, EqualAddressesKeepTheOrderFound) {
  repository_.Add("10.1.2.33/log_man_v1", "IOR:a");
  repository_.Add("10.1.2.0x21/log_man_v1", "IOR:b");
  repository_.Add("10.1.2.1/log_man_v1", "IOR:c");
  ASSERT_TRUE(extractor_.FindKRTs(3));
  std::vector<std::string> iors;
  for (const auto& u : extractor_.units()) iors.push_back(u.ior);
  EXPECT_EQ(std::vector<std::string>({"IOR:c", "IOR:a", "IOR:b"}), iors);
}

TEST_F(DiscoveryTest, FailedValueLookupLeavesTheReferenceEmpty) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  repository_.Add("10.1.2.8/log_man_v1", "IOR:8");
  repository_.FailValueGet("10.1.2.8/log_man_v1");
  ASSERT_TRUE(extractor_.FindKRTs(2));
  EXPECT_EQ("IOR:7", extractor_.units().front().ior);
  EXPECT_EQ("", extractor_.units().back().ior);
}

TEST_F(DiscoveryTest, KeysWithoutTheSuffixAreSkipped) {
  repository_.Add("10.1.2.7/other", "IOR:7");
  std::string long_address(5000, '9');
  repository_.Add(long_address + "/log_man_v1", "IOR:long");
  ASSERT_TRUE(extractor_.FindKRTs(1));
  EXPECT_EQ(
      Lines({"Searching for Velto Keys", "Found an KRT at " + long_address}),
      listener_.lines);
  EXPECT_FALSE(extractor_.FindKRT("10.1.2.7"));
}

TEST_F(DiscoveryTest, AddressIsCutAtTheFirstSuffix) {
  repository_.Add("10.1.2.5/log_man_v1/log_man_v1", "IOR:5");
  ASSERT_TRUE(extractor_.FindKRT("10.1.2.5"));
  EXPECT_EQ("5", extractor_.units().front().name);
}

// A repository that accepts the connection and never answers: each scan
// costs a whole time-out, and no scan starts once the deadline is near.
TEST_F(DiscoveryTest, AHangingRepositoryEndsEveryModeInTime) {
  const auto limit = std::chrono::seconds(CKRTLogExtractor::kDiscoverySeconds);
  struct {
    std::function<bool(CKRTLogExtractor&)> find;
    std::vector<std::string> diagnostics;
  } cases[] = {
      {[](CKRTLogExtractor& e) { return e.FindKRTs(2); }, {kTimeoutLine}},
      {[](CKRTLogExtractor& e) { return e.FindKRT("10.1.2.7"); },
       {kTimeoutLine}},
      {[](CKRTLogExtractor& e) { return e.FindAllKRTs(); }, {kTimeoutLine}},
  };
  for (const auto& c : cases) {
    repository_.queries = 0;
    diagnostics_.str("");
    listener_.lines.clear();
    auto start = now_;
    repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
    HangFrom(1);
    EXPECT_FALSE(c.find(extractor_));
    EXPECT_EQ(5, repository_.queries);
    EXPECT_LE(now_ - start, limit);
    EXPECT_EQ(c.diagnostics, Diagnostics());
    EXPECT_EQ(Lines({"Searching for Velto Keys"}), listener_.lines);
  }
}

TEST_F(DiscoveryTest, ARepositoryThatStopsAnsweringKeepsWhatWasFound) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  repository_.Add("10.1.2.8/log_man_v1", "IOR:8", 3);
  HangFrom(2);
  EXPECT_FALSE(extractor_.FindKRTs(2));
  EXPECT_EQ(1u, extractor_.discovery().found);
  EXPECT_EQ(2, extractor_.discovery().asked);
  EXPECT_EQ(Lines({kTimeoutLine,
                   "krtlogs: found 1 of 2 units asked for: KRT7 (10.1.2.7)"}),
            Diagnostics());
}

TEST_F(DiscoveryTest, NoRepositoryPollsTenTimesAndSaysSo) {
  repository_.before_keys_get = [this](int) {
    repository_.swallowed = std::make_exception_ptr(Refused());
  };
  EXPECT_FALSE(extractor_.FindKRT("10.1.2.7"));
  EXPECT_EQ(10, repository_.queries);
  EXPECT_EQ(Lines({"krtlogs: Velto repository: keys_get: cannot connect "
                   "(refused or unreachable) [TRANSIENT "
                   "(TRANSIENT_ConnectFailed, completed = NO)]"}),
            Diagnostics());
}

TEST_F(DiscoveryTest, ARepositoryThatComesUpLateIsUsed) {
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  repository_.before_keys_get = [this](int query) {
    if (query < 3) repository_.swallowed = std::make_exception_ptr(Refused());
  };
  EXPECT_TRUE(extractor_.FindKRTs(1));
  EXPECT_FALSE(extractor_.discovery().failure);
  EXPECT_EQ("", diagnostics_.str());
}

// An error the repository raises is its answer: the search ends at once,
// as a failed discovery, with the error named.
TEST_F(DiscoveryTest, RepositoryErrorsEndTheSearch) {
  const std::string kRefused =
      "krtlogs: Velto repository: keys_get: the Velto repository refused "
      "(error 0x20000403: generic security error)";
  struct {
    std::function<void(FakeRepository&)> fault;
    std::function<bool(CKRTLogExtractor&)> find;
    int queries;
    size_t found;
    std::vector<std::string> diagnostics;
  } cases[] = {
      {[](FakeRepository& r) {
         r.before_keys_get = [](int) { throw qo::errorcode_t(0x20000403); };
       },
       [](CKRTLogExtractor& e) { return e.FindKRTs(2); },
       1,
       0,
       {kRefused}},
      {[](FakeRepository& r) {
         r.before_keys_get = [](int q) {
           if (q == 2) throw qo::errorcode_t(0x20000403);
         };
       },
       [](CKRTLogExtractor& e) { return e.FindKRT("10.1.2.9"); },
       2,
       0,
       {kRefused}},
      {[](FakeRepository& r) {
         r.before_keys_get = [](int) {
           throw qo::exception_t(std::string("CORBA user exception: x"));
         };
       },
       [](CKRTLogExtractor& e) { return e.FindAllKRTs(); },
       1,
       0,
       {"krtlogs: Velto repository: keys_get: the Velto repository reported "
        "an error [CORBA user exception: x]"}},
      // The first unit's value comes, the second's lookup fails.
      {[](FakeRepository& r) {
         int calls = 0;
         r.before_value_get = [calls]() mutable {
           if (++calls == 2) throw qo::exception_t(std::string("gone"));
         };
       },
       [](CKRTLogExtractor& e) { return e.FindKRTs(2); },
       1,
       1,
       {"krtlogs: Velto repository: value_get: the Velto repository reported "
        "an error [gone]",
        "krtlogs: found 1 of 2 units asked for: KRT7 (10.1.2.7)"}},
      // A lookup the pump could not make (the repository went silent).
      {[](FakeRepository& r) {
         r.before_value_get = [&r] {
           r.swallowed = std::make_exception_ptr(Refused());
         };
       },
       [](CKRTLogExtractor& e) { return e.FindKRT("10.1.2.7"); },
       1,
       0,
       {"krtlogs: Velto repository: value_get: cannot connect (refused or "
        "unreachable) [TRANSIENT (TRANSIENT_ConnectFailed, completed = NO)]"}},
  };
  for (const auto& c : cases) {
    FakeRepository repository;
    repository.Add("10.1.2.7/log_man_v1", "IOR:7");
    repository.Add("10.1.2.8/log_man_v1", "IOR:8");
    c.fault(repository);
    std::ostringstream diagnostics;
    CKRTLogExtractor extractor(&listener_, &repository, fleet_.Factory(), 0,
                               diagnostics);
    extractor.SetRepositoryFailureProbe(
        [&repository] { return repository.swallowed; });
    EXPECT_FALSE(c.find(extractor));
    EXPECT_EQ(c.queries, repository.queries);
    EXPECT_EQ(c.found, extractor.discovery().found);
    EXPECT_EQ(c.found, extractor.units().size());
    EXPECT_TRUE(extractor.discovery().failure);
    std::string want;
    for (const auto& line : c.diagnostics) want += line + "\n";
    EXPECT_EQ(want, diagnostics.str());
  }
}

TEST_F(DiscoveryTest, TooFewUnitsNamesThoseFound) {
  repository_.Add("10.1.2.8/log_man_v1", "IOR:8");
  repository_.Add("10.1.2.7/log_man_v1", "IOR:7");
  EXPECT_FALSE(extractor_.FindKRTs(3));
  // The driver may go on with them (-partial).
  EXPECT_EQ(2u, extractor_.discovery().found);
  EXPECT_EQ(2u, extractor_.units().size());
  EXPECT_FALSE(extractor_.discovery().failure);
  EXPECT_EQ(Lines({"krtlogs: found 2 of 3 units asked for: KRT7 (10.1.2.7), "
                   "KRT8 (10.1.2.8)"}),
            Diagnostics());
  EXPECT_FALSE(extractor_.FindKRT("10.1.2.33"));
  EXPECT_EQ(
      "krtlogs: no unit is published under the key "
      "\"10.1.2.33/log_man_v1\"",
      Diagnostics().back());
}

// -all: the set of the first two consecutive scans that agree and found
// something; each scan asks afresh.
TEST_F(DiscoveryTest, AllTakesTheFirstStableSet) {
  struct {
    std::vector<std::pair<std::string, int>> keys;  // key, first query
    std::function<void(FakeRepository&)> fault;
    int queries;
    std::vector<std::string> found;  // lines after "Searching for Velto Keys"
    std::vector<std::string> diagnostics;
  } cases[] = {
      {{{"10.1.2.9", 1}, {"10.1.2.3", 1}},
       nullptr,
       2,
       {"10.1.2.9", "10.1.2.3"},
       {}},
      // Units still registering: the set settles at the third scan.
      {{{"10.1.2.1", 1}, {"10.1.2.2", 2}, {"10.1.2.3", 4}},
       nullptr,
       3,
       {"10.1.2.1", "10.1.2.2"},
       {}},
      {{{"10.1.2.1", 3}}, nullptr, 4, {"10.1.2.1"}, {}},
      // A scan the repository did not answer settles nothing.
      {{{"10.1.2.1", 1}},
       [](FakeRepository& r) {
         r.before_keys_get = [&r](int q) {
           if (q == 2) r.swallowed = std::make_exception_ptr(Refused());
         };
       },
       4,
       {"10.1.2.1"},
       {}},
      // A fleet that never settles: the last scan is taken, and said so.
      {{{"10.1.2.1", 1},
        {"10.1.2.2", 2},
        {"10.1.2.3", 3},
        {"10.1.2.4", 4},
        {"10.1.2.5", 5},
        {"10.1.2.6", 6},
        {"10.1.2.7", 7},
        {"10.1.2.8", 8},
        {"10.1.2.9", 9},
        {"10.1.2.10", 10}},
       nullptr,
       10,
       {"10.1.2.1", "10.1.2.2", "10.1.2.3", "10.1.2.4", "10.1.2.5", "10.1.2.6",
        "10.1.2.7", "10.1.2.8", "10.1.2.9", "10.1.2.10"},
       {"krtlogs: the units published did not settle in two scans; taking "
        "the 10 of the last scan"}},
      // A key the repository lists twice is one unit.
      {{{"10.1.2.4", 1}, {"10.1.2.4", 1}}, nullptr, 2, {"10.1.2.4"}, {}},
  };
  for (const auto& c : cases) {
    FakeRepository repository;
    for (const auto& k : c.keys) {
      repository.Add(k.first + "/log_man_v1", "IOR:" + k.first, k.second);
    }
    if (c.fault) c.fault(repository);
    RecordingListener listener;
    std::ostringstream diagnostics;
    CKRTLogExtractor extractor(&listener, &repository, fleet_.Factory(), 0,
                               diagnostics);
    extractor.SetRepositoryFailureProbe(
        [&repository] { return repository.swallowed; });
    EXPECT_TRUE(extractor.FindAllKRTs());
    EXPECT_EQ(c.queries, repository.queries);
    Lines want = {"Searching for Velto Keys"};
    for (const auto& a : c.found) want.push_back("Found an KRT at " + a);
    EXPECT_EQ(want, listener.lines);
    EXPECT_EQ(c.found.size(), extractor.units().size());
    EXPECT_EQ(CKRTLogExtractor::kAllUnits, extractor.discovery().asked);
    std::string want_diagnostics;
    for (const auto& line : c.diagnostics) want_diagnostics += line + "\n";
    EXPECT_EQ(want_diagnostics, diagnostics.str());
  }
}

TEST_F(DiscoveryTest, AllWithNoUnitFails) {
  repository_.Add("10.1.2.1/other", "x");
  EXPECT_FALSE(extractor_.FindAllKRTs());
  EXPECT_EQ(10, repository_.queries);
  EXPECT_EQ(Lines({"Searching for Velto Keys"}), listener_.lines);
  EXPECT_EQ(Lines({"krtlogs: no unit is published under a key matching "
                   "\"*/log_man_v1\""}),
            Diagnostics());
}

}  // namespace
}  // namespace krtlogs_test
