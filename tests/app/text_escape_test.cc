// Text from the repository or a unit cannot forge or disturb a line of the
// tool's output.
#include "app/text_escape.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/app/extractor_fakes.h"

namespace krtlogs_test {
namespace {

TEST(TextEscapeTest, ControlCharactersOnly) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"10.1.2.33", "10.1.2.33"},
      {"a\nb", "a\\nb"},
      {"a\tb\rc", "a\\tb\\rc"},
      {"\x1b[2J", "\\x1b[2J"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f\x01", "\\x7f\\x01"},
      {"back\\slash", "back\\slash"},
      {"caf\xc3\xa9 \xff", "caf\xc3\xa9 \xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, EscapeControlCharacters(c.in));
}

TEST_F(ExtractorTest, AKeyWithALineBreakCannotForgeALine) {
  repository_.Add("10.1.2.7\nFound an KRT at 6.6.6.6/log_man_v1", "IOR:7");
  ASSERT_TRUE(extractor_.FindKRTs(1));
  EXPECT_EQ(std::vector<std::string>(
                {"Searching for Velto Keys",
                 "Found an KRT at 10.1.2.7\\nFound an KRT at 6.6.6.6"}),
            listener_.lines);
}

}  // namespace
}  // namespace krtlogs_test
