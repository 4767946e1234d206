// The command line read into RunOptions: the original options keep their
// forgiving rules, the newer ones refuse bad values, and help and version
// win wherever they stand.
#include "app/options.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace krtlogs_test {
namespace {

using Args = std::vector<std::string>;

ParsedCommandLine Parse(const Args& args) {
  std::vector<const char*> argv = {"krtlogs"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::string Shown(const Args& args) {
  std::string shown = "krtlogs";
  for (const std::string& a : args) shown += " '" + a + "'";
  return shown;
}

TEST(OptionsTest, HelpAndVersionWinWhereverTheyStand) {
  const struct {
    Args args;
    Action action;
  } cases[] = {
      {{"-h"}, Action::kHelp},
      {{"-clear", "--help"}, Action::kHelp},
      {{"-o", "-help"}, Action::kHelp},
      {{"-j", "0", "-h"}, Action::kHelp},
      {{"-version"}, Action::kVersion},
      {{"-n", "99999999999", "--version"}, Action::kVersion},
      {{"--version", "--help"}, Action::kVersion},
      {{"-H"}, Action::kRun},
      {{"help"}, Action::kRun},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.action, Parse(c.args).action) << Shown(c.args);
  }
}

TEST(OptionsTest, OriginalOptionsKeepTheirRules) {
  const struct {
    Args args;
    bool counted;
    int count;
    bool single;
    std::string address;
    bool clear;
  } cases[] = {
      {{}, false, 10, false, "", false},
      {{"-n", "3"}, true, 3, false, "", false},
      {{"-N", "4", "-n", "5"}, true, 5, false, "", false},
      {{"-n", "3", "-n", "4"}, true, 3, false, "", false},
      {{"-n", "12x"}, true, 12, false, "", false},
      {{"-n", "abc"}, true, 10, false, "", false},
      {{"-n"}, true, 10, false, "", false},
      {{"-n", "-2"}, true, 10, false, "", false},
      {{"-n", " +7"}, true, 7, false, "", false},
      {{"-n", "2147483647"}, true, 2147483647, false, "", false},
      {{"-s", "10.1.2.33"}, false, 10, true, "10.1.2.33", false},
      {{"-S", "10.1.2.33", "-s", "10.1.2.44"},
       false,
       10,
       true,
       "10.1.2.44",
       false},
      {{"-s", "-clear"}, false, 10, true, "", true},
      {{"-N", "2", "-CLEAR"}, true, 2, false, "", true},
  };
  for (const auto& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(Action::kRun, p.action) << Shown(c.args) << ": " << p.error;
    EXPECT_EQ(c.counted, p.options.counted) << Shown(c.args);
    EXPECT_EQ(c.count, p.options.count) << Shown(c.args);
    EXPECT_EQ(c.single, p.options.single) << Shown(c.args);
    EXPECT_EQ(c.address, p.options.address) << Shown(c.args);
    EXPECT_EQ(c.clear, p.options.clear) << Shown(c.args);
  }
}

TEST(OptionsTest, NewerOptionsAndTheirValues) {
  ParsedCommandLine p = Parse(
      {"-j", "4", "-timeout", "0", "-o", "out/", "-format", "jsonl", "-list",
       "-partial", "-keep-going", "-q", "-manifest", "-since", "-noclobber"});
  ASSERT_EQ(Action::kRun, p.action) << p.error;
  const RunOptions& o = p.options;
  EXPECT_EQ(4, o.jobs);
  EXPECT_EQ(0u, o.timeout_seconds);
  EXPECT_EQ("out", o.output_dir);
  EXPECT_TRUE(o.output_dir_given);
  EXPECT_EQ(LogFormat::kJsonl, o.format);
  EXPECT_TRUE(o.list && o.partial && o.keep_going && o.quiet && o.manifest &&
              o.since && o.noclobber);
  EXPECT_TRUE(o.stamp);  // implied by -since
  EXPECT_TRUE(p.unknown.empty());

  RunOptions defaults = Parse({}).options;
  EXPECT_EQ(1, defaults.jobs);
  EXPECT_EQ(60u, defaults.timeout_seconds);
  EXPECT_EQ(".", defaults.output_dir);
  EXPECT_FALSE(defaults.output_dir_given);
  EXPECT_EQ(LogFormat::kTsv, defaults.format);
  EXPECT_FALSE(defaults.stamp);
  EXPECT_EQ("/", Parse({"-o", "/"}).options.output_dir);
  EXPECT_TRUE(Parse({"-all"}).options.all);
  EXPECT_EQ(0, defaults.keep);
  EXPECT_EQ(3, Parse({"-since", "-keep", "3"}).options.keep);

  const RunOptions follow =
      Parse({"-all", "-follow", "-tail", "0", "-interval", "0.25"}).options;
  EXPECT_TRUE(follow.follow);
  EXPECT_EQ(0u, follow.tail);
  EXPECT_DOUBLE_EQ(0.25, follow.interval_seconds);
  EXPECT_EQ(10u, defaults.tail);
  EXPECT_DOUBLE_EQ(1.0, defaults.interval_seconds);
  EXPECT_DOUBLE_EQ(
      0.1, Parse({"-follow", "-interval", "0.1"}).options.interval_seconds);
}

TEST(OptionsTest, BadValuesAreUsageErrors) {
  const struct {
    Args args;
    const char* says;
  } cases[] = {
      {{"-j"}, "-j needs"},
      {{"-j", "0"}, "-j needs a whole number of at least 1, not '0'"},
      {{"-j", "-1"}, "not '-1'"},
      {{"-j", "two"}, "not 'two'"},
      {{"-j", "4x"}, "not '4x'"},
      {{"-j", "99999999999"}, "not '99999999999'"},
      {{"-timeout", "-5"}, "-timeout needs"},
      {{"-timeout", "4294968"}, "from 0 to 4294967"},
      {{"-timeout"}, "-timeout needs"},
      {{"-o"}, "-o needs a folder"},
      {{"-o", ""}, "-o needs a folder"},
      {{"-o", "-clear"}, "not the option '-clear'"},
      {{"-format", "xml"}, "-format needs tsv or jsonl, not 'xml'"},
      {{"-format"}, "-format needs"},
      {{"-n", "99999999999"}, "the count '99999999999' is too large"},
      {{"-N", "3000000000"}, "too large"},
      {{"-n", " -2147483649"}, "too large"},
      {{"-s", "10.1.2.1/../../x"}, "must not contain '/'"},
      {{"-all", "-s", "10.1.2.1"}, "-all and -s"},
      {{"-all", "-n", "3"}, "-all and -n"},
      {{"-partial", "-s", "10.1.2.1"}, "-partial needs a count"},
      {{"-j", "\x1b[2J"}, "not '\\x1b[2J'"},
      {{"-keep", "-stamp"}, "-keep needs a whole number of at least 1"},
      {{"-stamp", "-keep", "0"}, "not '0'"},
      {{"-stamp", "-keep", "2x"}, "not '2x'"},
      {{"-stamp", "-keep", "99999999999"}, "not '99999999999'"},
      {{"-stamp", "-keep"}, "-keep needs"},
      {{"-keep", "2"}, "-keep needs -stamp or -since"},
      {{"-since", "-keep", "2", "-clear"}, "not -clear or -list"},
      {{"-metrics"}, "-metrics needs a file"},
      {{"-metrics", "-q"}, "not the option '-q'"},
      {{"-metrics", "out/"}, "not the folder 'out/'"},
      {{"-list", "-metrics", "m.prom"},
       "-metrics describes a run that collects"},
      {{"-tail", "5"}, "-tail needs -follow"},
      {{"-interval", "1"}, "-interval needs -follow"},
      {{"-follow", "-tail", "-1"}, "not '-1'"},
      {{"-follow", "-tail", "4294967296"}, "not '4294967296'"},
      {{"-follow", "-interval", "0.09"}, "from 0.1 to 3600"},
      {{"-follow", "-interval", "1e3"}, "not '1e3'"},
      {{"-follow", "-interval", "1."}, "not '1.'"},
      {{"-follow", "-interval", "3600.5"}, "not '3600.5'"},
      {{"-follow", "-interval"}, "-interval needs"},
      {{"-follow", "-format", "csv"}, "-format needs tsv or jsonl"},
      {{"-follow", "-clear"}, "writes no file: not with -clear"},
      {{"-follow", "-list"}, "not with -list"},
      {{"-follow", "-o", "x"}, "not with -o"},
      {{"-follow", "-manifest"}, "not with -manifest"},
      {{"-follow", "-since"}, "not with -since"},
      {{"-follow", "-stamp"}, "not with -stamp"},
      {{"-follow", "-stamp", "-keep", "2"}, "not with -stamp"},
      {{"-follow", "-noclobber"}, "not with -noclobber"},
      {{"-follow", "-metrics", "m.prom"}, "not with -metrics"},
  };
  for (const auto& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    EXPECT_EQ(Action::kUsageError, p.action) << Shown(c.args);
    EXPECT_NE(std::string::npos, p.error.find(c.says))
        << Shown(c.args) << " said: " << p.error;
    EXPECT_EQ(0u, p.error.rfind("krtlogs: ", 0)) << p.error;
    EXPECT_EQ(std::string::npos, p.error.find('\n')) << p.error;
  }
}

TEST(OptionsTest, UnknownArgumentsAreNamedOnce) {
  const struct {
    Args args;
    Args unknown;
  } cases[] = {
      {{"--frobnicate"}, {"--frobnicate"}},
      {{"-n", "3x", "stray"}, {"stray"}},
      {{"-n", "3", "-n", "4"}, {}},
      {{"-j", "2", "-o", "dir", "-format", "tsv", "x", "-timeout", "5"}, {"x"}},
      {{"-clear", "-CLEAR", "-s", "a", "-S", "b"}, {}},
      {{"-s", "-n", "-N"}, {}},
      {{"-clear", "value"}, {"value"}},
      {{"-J", "2"}, {"-J", "2"}},
  };
  for (const auto& c : cases) {
    ParsedCommandLine p = Parse(c.args);
    ASSERT_EQ(Action::kRun, p.action) << Shown(c.args) << ": " << p.error;
    EXPECT_EQ(c.unknown, p.unknown) << Shown(c.args);
  }
}

TEST(OptionsTest, UsageTextNamesEveryOptionAndTheExitStatuses) {
  const std::string text = UsageText();
  for (const char* option :
       {"-n COUNT", "-s ADDRESS", "-all",          "-clear",   "-list",
        "-j N",     "-timeout",   "-o DIR",        "-partial", "-keep-going",
        "-format",  "-manifest",  "-since",        "-stamp",   "-noclobber",
        "-keep N",  "-q",         "-help",         "-version", "255",
        "-follow",  "-tail K",    "-interval SECS"}) {
    EXPECT_NE(std::string::npos, text.find(option)) << option;
  }
  EXPECT_NE(std::string::npos, text.find("\n  128+n  interrupted by signal"));
  EXPECT_STREQ(KRTLOGS_VERSION_FOR_TEST, Version());
}

}  // namespace
}  // namespace krtlogs_test
