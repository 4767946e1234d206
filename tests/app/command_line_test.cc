#include "app/command_line.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

CCommandLine Make(std::vector<const char*> args) {
  args.insert(args.begin(), "krtlogs");
  return CCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, FindsWholeArgumentsOnly) {
  CCommandLine line = Make({"-nx", "-N", "x-n"});
  EXPECT_FALSE(line.Find("-n"));
  EXPECT_TRUE(line.Find("-N"));
  EXPECT_FALSE(line.Find("-clear"));
}

TEST(CommandLineTest, ValueIsTheNextArgumentWithoutDash) {
  CCommandLine line = Make({"-s", "10.1.2.33", "-n", "-2", "-clear"});
  std::string value = "untouched";
  ASSERT_TRUE(line.Find("-n"));
  EXPECT_FALSE(line.GetValue(value));
  EXPECT_EQ("untouched", value);
  ASSERT_TRUE(line.Find("-s"));
  EXPECT_TRUE(line.GetValue(value));
  EXPECT_EQ("10.1.2.33", value);
}

TEST(CommandLineTest, OptionAtTheEndHasNoValue) {
  CCommandLine line = Make({"-clear", "-s"});
  std::string value;
  ASSERT_TRUE(line.Find("-s"));
  EXPECT_FALSE(line.GetValue(value));
  EXPECT_EQ("", value);
}

TEST(CommandLineTest, FirstOccurrenceCounts) {
  CCommandLine line = Make({"-n", "3", "-n", "4"});
  std::string value;
  ASSERT_TRUE(line.Find("-n"));
  ASSERT_TRUE(line.GetValue(value));
  EXPECT_EQ("3", value);
}

TEST(CommandLineTest, FailedFindKeepsThePosition) {
  CCommandLine line = Make({"-s", "a", "b"});
  std::string value;
  ASSERT_TRUE(line.Find("-s"));
  EXPECT_FALSE(line.Find("-n"));
  ASSERT_TRUE(line.GetValue(value));
  EXPECT_EQ("a", value);
  ASSERT_TRUE(line.GetValue(value));
  EXPECT_EQ("b", value);
  EXPECT_FALSE(line.GetValue(value));
}

TEST(CommandLineTest, NoArguments) {
  CCommandLine line = Make({});
  std::string value;
  EXPECT_FALSE(line.Find("-n"));
}

}  // namespace
