// Fleet control end to end: every unit published (-all, with and without
// -j), a fleet of thousands under a low descriptor limit, going on with the
// units found (-partial, for fetching and for clearing past failures) and a
// short time-out against hung units. Standard
// output and the exit status are compared whole.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using testing_support::ProcessResult;
using testing_support::TempDir;
using Strings = std::vector<std::string>;

// A hung call must end after the one second asked for, not after the 60 s
// default; the bound only tells the two apart on a loaded machine.
constexpr auto kHungCallBound = std::chrono::seconds(30);

// The last field of a -list line: the entries a fetch would ask for.
std::string ListedCount(const std::string& line) {
  return line.substr(line.rfind('\t') + 1);
}

const Strings kFindThree = {
    "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
    "Found an KRT at 10.1.2.2", "Found an KRT at 10.1.2.3"};
const Strings kFetchThree = {"Getting logs from KRT1", "Getting logs from KRT2",
                             "Getting logs from KRT3",
                             "Zipping up log files to KRTLogs.zip", "done"};

class FleetE2eTest : public E2eTest {
 protected:
  ProcessResult TimedKrtlogs(const Strings& args,
                             std::chrono::steady_clock::duration& took) {
    const auto start = std::chrono::steady_clock::now();
    ProcessResult r = Krtlogs(args);
    took = std::chrono::steady_clock::now() - start;
    return r;
  }

  void ExpectThreeLogs(const std::string& archive) {
    ExpectArchive(archive, {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 60)},
                            {"KRT2_log.txt", ExpectedLog("10.1.2.2", 60)},
                            {"KRT3_log.txt", ExpectedLog("10.1.2.3", 60)}});
  }
};

TEST_F(FleetE2eTest, AllTakesEveryUnitPublished) {
  StartUnits({"--units", "3", "--entries", "60"});
  const Strings expected =
      Join(Join({"Searching for all KRTs", "done", "Searching for all KRTs "},
                kFindThree),
           kFetchThree);
  for (const Strings& args : {Strings{"-all"}, Strings{"-all", "-j", "4"}}) {
    TempDir dir;
    ProcessResult r = Krtlogs(args, dir.path());
    SCOPED_TRACE(args.size() == 1 ? "-all" : "-all -j 4");
    EXPECT_EQ(expected, Lines(r.out)) << r.err;
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.err.rfind("krtlogs: summary: all asked, 3 found, "
                              "3 collected, 0 empty, 0 failed; 180 entries",
                              0))
        << r.err;
    EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(dir.path()));
    ExpectThreeLogs(dir.File("KRTLogs.zip"));
  }
}

// The files a run keeps open do not grow with the units: 2,000 of them are
// collected under a limit of 64 descriptors; under 32, -j is lowered to
// what the limit leaves; and a limit too low for even one unit is named as
// the host's, not blamed on the units.
TEST_F(FleetE2eTest, ManyUnitsNeedFewDescriptors) {
  StartUnits({"--units", "2000", "--entries", "5"});
  const struct {
    const char* limit;
    const char* jobs;
    int status;
    const char* said;  // on standard error
  } cases[] = {
      {"64", "8", 0, ""},
      {"32", "16", 0, "krtlogs: -j 16 needs about "},
      {"18", "1", 1,
       "out of file descriptors (limit 18): lower -j or raise ulimit -n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    TempDir dir;
    ProcessResult r = Krtlogs(
        {"-n", "2000", "-j", c.jobs}, dir.path(),
        {"sh", "-c", std::string("ulimit -n ") + c.limit + " && exec \"$@\"",
         "sh"});
    EXPECT_EQ(c.status, r.status) << r.err.substr(0, 2000);
    EXPECT_NE(std::string::npos, r.err.find(c.said)) << r.err.substr(0, 2000);
    EXPECT_EQ(std::string::npos, r.err.find("cannot connect"));
    if (c.status != 0) continue;
    EXPECT_EQ(Strings({"Zipping up log files to KRTLogs.zip", "done"}),
              Tail(r.out, 2));
    EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(dir.path()));
    const std::string archive = dir.File("KRTLogs.zip");
    EXPECT_TRUE(testing_support::CheckArchive(archive).ok());
    ProcessResult names =
        testing_support::RunProcess({"unzip", "-Z1", archive});
    EXPECT_EQ(2000u, Lines(names.out).size());
    EXPECT_EQ("KRT1_log.txt", Lines(names.out).front());
  }
}

TEST_F(FleetE2eTest, NothingPublishedFailsDiscovery) {
  // Both runs scan for their ten seconds; they run side by side.
  TempDir all_dir;
  TempDir partial_dir;
  ProcessResult all;
  std::thread all_run([&] { all = Krtlogs({"-all"}, all_dir.path()); });
  ProcessResult partial = Krtlogs({"-n", "2", "-partial"}, partial_dir.path());
  all_run.join();

  EXPECT_EQ(
      Strings({"Searching for all KRTs", "done", "Searching for all KRTs ",
               "Searching for Velto Keys", "Failed to find any KRT", "done"}),
      Lines(all.out))
      << all.err;
  EXPECT_EQ(255, all.status);
  EXPECT_NE(std::string::npos,
            all.err.find("krtlogs: no unit is published under a key matching "
                         "\"*/log_man_v1\"\n"))
      << all.err;
  // -partial goes on with the units found, and there are none.
  EXPECT_EQ(
      Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
               "Searching for Velto Keys", "Failed to find all KRTs", "done"}),
      Lines(partial.out))
      << partial.err;
  EXPECT_EQ(255, partial.status);
  EXPECT_EQ(Strings(), Files(all_dir.path()));
  EXPECT_EQ(Strings(), Files(partial_dir.path()));
}

TEST_F(FleetE2eTest, PartialGoesOnWithTheUnitsFound) {
  StartUnits(
      {"--units", "3", "--entries", "60", "--fault", "10.1.2.2:no-clear"});
  const Strings head = Join(
      {"Searching for 5 KRTs", "done", "Searching for 5 KRTs "}, kFindThree);
  const char kTooFew[] =
      "krtlogs: found 3 of 5 units asked for: KRT1 (10.1.2.1), "
      "KRT2 (10.1.2.2), KRT3 (10.1.2.3)\n";

  // Every unit found is fetched, and the run still says it fell short.
  ProcessResult r = Krtlogs({"-n", "5", "-partial"});
  EXPECT_EQ(Join(Join(head, {"Failed to find all KRTs"}), kFetchThree),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find(kTooFew)) << r.err;
  ExpectThreeLogs(Work("KRTLogs.zip"));

  // With every unit there, -partial changes nothing.
  TempDir whole;
  r = Krtlogs({"-n", "3", "-partial"}, whole.path());
  EXPECT_EQ(Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
                 Join(kFindThree, kFetchThree)),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;

  // Clearing goes on with the units found, and past the one that refuses.
  r = Krtlogs({"-n", "5", "-partial", "-clear", "-keep-going"});
  EXPECT_EQ(Join(head, {"Failed to find all KRTs", "Clearing logs on KRT1",
                        "Clearing logs on KRT2",
                        "Caught exception trying to clear logs",
                        "Clearing logs on KRT3", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find(kTooFew)) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: KRT2 (10.1.2.2): clear_logs: access denied"))
      << r.err;

  r = Krtlogs({"-n", "3", "-list"});
  Strings lines = Lines(r.out);
  ASSERT_EQ(11u, lines.size()) << r.out << r.err;
  EXPECT_EQ(Strings({"0", "60", "0"}),
            Strings({ListedCount(lines[7]), ListedCount(lines[8]),
                     ListedCount(lines[9])}));
}

TEST_F(FleetE2eTest, AShortTimeOutEndsHungCalls) {
  StartUnits({"--units", "3", "--entries", "20", "--fault",
              "10.1.2.1:hang:range", "--fault", "10.1.2.3:hang:clear_logs"});
  std::chrono::steady_clock::duration took;
  ProcessResult r = TimedKrtlogs({"-n", "3", "-timeout", "1"}, took);
  EXPECT_EQ(Join(Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
                      kFindThree),
                 {"Failed to get logs from KRT1", "Getting logs from KRT2",
                  "Getting logs from KRT3",
                  "Zipping up log files to KRTLogs.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: KRT1 (10.1.2.1): range: no answer within 1 s"))
      << r.err;
  EXPECT_LT(took, kHungCallBound);
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT2_log.txt", ExpectedLog("10.1.2.2", 20)},
                 {"KRT3_log.txt", ExpectedLog("10.1.2.3", 20)}});

  r = TimedKrtlogs({"-n", "3", "-clear", "-keep-going", "-timeout", "1"}, took);
  EXPECT_EQ(Join(Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
                      kFindThree),
                 {"Clearing logs on KRT1", "Clearing logs on KRT2",
                  "Clearing logs on KRT3",
                  "Caught exception trying to clear logs", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: KRT3 (10.1.2.3): clear_logs: no answer "
                       "within 1 s"))
      << r.err;
  EXPECT_LT(took, kHungCallBound);
}

}  // namespace
}  // namespace krtlogs_test
