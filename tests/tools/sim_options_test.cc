#include "tools/sim_options.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

using Args = std::vector<std::string>;

TEST(SimOptionsTest, DefaultsAndConsecutiveAddresses) {
  sim_options_t d = ParseSimOptions({});
  EXPECT_EQ(10u, d.addresses.size());
  EXPECT_EQ("10.1.2.1", d.addresses.front());
  EXPECT_EQ("10.1.2.10", d.addresses.back());
  EXPECT_EQ(100u, d.entries);
  EXPECT_EQ(1u, d.seed);
  EXPECT_EQ("krt", d.user);
  EXPECT_EQ("krt", d.password);
  EXPECT_EQ("127.0.0.1", d.listen);

  sim_options_t o = ParseSimOptions({"--units", "3", "--first-address",
                                     "10.1.2.254", "--entries", "0", "--seed",
                                     "0x10", "--listen", "127.0.0.5"});
  EXPECT_EQ(Args({"10.1.2.254", "10.1.2.255", "10.1.3.0"}), o.addresses);
  EXPECT_EQ(0u, o.entries);
  EXPECT_EQ(16u, o.seed);
  EXPECT_EQ("127.0.0.5", o.listen);

  sim_options_t listed = ParseSimOptions(
      {"--address", "10.1.3.33", "--address", "10.1.2.33", "--user", "u"});
  EXPECT_EQ(Args({"10.1.3.33", "10.1.2.33"}), listed.addresses);
  EXPECT_EQ("u", listed.user);
}

TEST(SimOptionsTest, FaultsAndDelaysPerUnit) {
  sim_options_t o =
      ParseSimOptions({"--units", "4",
                       "--fault", "10.1.2.1:empty",
                       "--fault", "10.1.2.1:short:5",
                       "--fault", "10.1.2.2:range-error:0x20000403",
                       "--fault", "10.1.2.2:get-last-error:536871184",
                       "--fault", "10.1.2.2:clear-error:7",
                       "--fault", "10.1.2.3:hang:get_last",
                       "--fault", "10.1.2.3:inverted",
                       "--fault", "10.1.2.4:bad-reference",
                       "--fault", "10.1.2.4:no-clear",
                       "--delay", "10.1.2.4:3",
                       "--grow",  "10.1.2.3:0x10",
                       "--cap",   "10.1.2.3:7"});
  const sim_faults_t& one = o.faults["10.1.2.1"];
  EXPECT_TRUE(one.empty);
  EXPECT_EQ(5u, one.short_count.value_or(0));
  const sim_faults_t& two = o.faults["10.1.2.2"];
  EXPECT_EQ(0x20000403u, two.range_error.value_or(0));
  EXPECT_EQ(0x20000110u, two.get_last_error.value_or(0));
  EXPECT_EQ(7u, two.clear_error.value_or(0));
  EXPECT_FALSE(two.empty || two.short_count);
  const sim_faults_t& three = o.faults["10.1.2.3"];
  EXPECT_TRUE(three.hang_get_last && three.inverted);
  EXPECT_FALSE(three.hang_range || three.hang_clear);
  EXPECT_TRUE(o.faults["10.1.2.4"].bad_reference);
  EXPECT_TRUE(o.faults["10.1.2.4"].no_clear);
  EXPECT_EQ(1u, o.delays.size());
  EXPECT_EQ(3u, o.delays["10.1.2.4"]);
  EXPECT_EQ((std::map<std::string, uint32_t>{{"10.1.2.3", 16}}), o.growth);
  EXPECT_EQ((std::map<std::string, uint32_t>{{"10.1.2.3", 7}}), o.caps);
}

TEST(SimOptionsTest, BadCommandLinesAreRefused) {
  const Args table[] = {
      {"--units"},
      {"--units", "x"},
      {"--units", "-1"},
      {"--units", "4294967296"},
      {"--units", "70000"},
      {"--entries", "1e3"},
      {"--seed", "0x"},
      {"--first-address", "10.1.2"},
      {"--first-address", "255.255.255.255", "--units", "2"},
      {"--address", "10.1.2.01"},
      {"--address", "10.1.2.1", "--address", "10.1.2.1"},
      {"--address", "10.1.2.1", "--units", "2"},
      {"--fault", "10.1.2.1"},
      {"--fault", "10.1.2.99:empty"},
      {"--fault", "10.1.2.1:sideways"},
      {"--fault", "10.1.2.1:short"},
      {"--fault", "10.1.2.1:empty:1"},
      {"--fault", "10.1.2.1:hang:post"},
      {"--fault", "10.1.2.1:range-error:0x1g"},
      {"--delay", "10.1.2.1"},
      {"--delay", "10.1.2.1:soon"},
      {"--grow", "10.1.2.1"},
      {"--grow", "10.1.2.1:0"},
      {"--grow", "10.1.2.99:5"},
      {"--cap", "10.1.2.1:"},
      {"--cap", "10.1.2.1:0"},
      {"--cap", "10.1.2.1:4294967296"},
      {"--listen", ""},
      {"--verbose", "1"},
      {"stray"},
  };
  for (const Args& args : table) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_THROW(ParseSimOptions(args), usage_error_t) << line;
  }
}

}  // namespace
