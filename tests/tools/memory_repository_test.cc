#include "tools/memory_repository.h"

#include <list>
#include <string>

#include "gtest/gtest.h"

namespace {

TEST(PatternMatchesTest, StarsStandForAnyTextAnywhere) {
  const struct {
    const char* pattern;
    const char* text;
    bool match;
  } table[] = {
      {"*/log_man_v1", "10.1.2.3/log_man_v1", true},
      {"*/log_man_v1", "/log_man_v1", true},
      {"*/log_man_v1", "10.1.2.3/log_man_v2", false},
      {"*/log_man_v1", "10.1.2.3/log_man_v1/x", false},
      {"10.1.*", "10.1.2.3/log_man_v1", true},
      {"10.1.*", "10.2.1.3", false},
      {"*", "", true},
      {"*", "anything", true},
      {"**", "x", true},
      {"", "", true},
      {"", "x", false},
      {"a*b*c", "a-b-c", true},
      {"a*b*c", "abbbbc", true},
      {"a*b*c", "acb", false},
      {"*aab", "aaaab", true},  // needs the backtrack
      {"a*", "b", false},
      {"exact", "exact", true},
      {"exact", "exac", false},
      {"?", "?", true},  // only the star is special
      {"?", "x", false},
  };
  for (const auto& row : table) {
    EXPECT_EQ(row.match, PatternMatches(row.pattern, row.text))
        << row.pattern << " / " << row.text;
  }
}

TEST(MemoryRepositoryTest, KeysComeSortedAndAppended) {
  memory_repository_t repo;
  repo.publish("b", "1");
  repo.publish_ex("a", "2", 7);
  repo.publish("c", "3");
  repo.publish("b", "4");  // replaces
  repo.unpublish("c");
  repo.unpublish("never");
  std::list<std::string> keys = {"z"};
  repo.keys_get("*", keys, false);
  EXPECT_EQ(std::list<std::string>({"z", "a", "b"}), keys);
  std::string value = "kept";
  EXPECT_FALSE(repo.value_get("c", value));
  EXPECT_EQ("kept", value);
  EXPECT_TRUE(repo.value_get("b", value));
  EXPECT_EQ("4", value);
}

}  // namespace
