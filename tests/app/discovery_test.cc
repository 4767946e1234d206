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
                   diagnostics_) {}

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& u : extractor_.units()) names.push_back(u.name);
    return names;
  }

  FakeRepository repository_;
  FakeFleet fleet_;
  RecordingListener listener_;
  std::ostringstream diagnostics_;
  CKRTLogExtractor extractor_;
};

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

}  // namespace
}  // namespace krtlogs_test
