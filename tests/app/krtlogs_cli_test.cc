// The command line as a technician types it: for each argument list, the
// tool's whole standard output and its exit status, against five simulated
// units (10.1.2.1, .2, .3, .33 and .44).
#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using Strings = std::vector<std::string>;

struct Case {
  Strings args;
  Strings out;
  int status;
};

const Strings kFetchThree = {"Searching for Velto Keys",
                             "Found an KRT at 10.1.2.1",
                             "Found an KRT at 10.1.2.2",
                             "Found an KRT at 10.1.2.3",
                             "Getting logs from KRT1",
                             "Getting logs from KRT2",
                             "Getting logs from KRT3",
                             "Zipping up log files to KRTLogs.zip",
                             "done"};
const Strings kFindFive = {
    "Searching for Velto Keys",  "Found an KRT at 10.1.2.1",
    "Found an KRT at 10.1.2.2",  "Found an KRT at 10.1.2.3",
    "Found an KRT at 10.1.2.33", "Found an KRT at 10.1.2.44",
    "Failed to find all KRTs",   "done"};

class KrtlogsCliTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    StartUnits({"--address", "10.1.2.1", "--address", "10.1.2.2", "--address",
                "10.1.2.3", "--address", "10.1.2.33", "--address", "10.1.2.44",
                "--entries", "3"});
  }

  void Expect(const Case& c) {
    testing_support::TempDir folder;
    auto r = Krtlogs(c.args, folder.path());
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    EXPECT_EQ(c.out, Lines(r.out)) << "krtlogs" << shown << "\n" << r.err;
    EXPECT_EQ(c.status, r.status) << "krtlogs" << shown << "\n" << r.err;
  }
};

TEST_F(KrtlogsCliTest, CountAndAddressOptions) {
  const Case cases[] = {
      {{"-n", "3"},
       Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
            kFetchThree),
       0},
      {{"-n", "3", "-n", "4"},
       Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
            kFetchThree),
       0},
      {{"-n", "3x", "stray"},
       Join({"Searching for 3 KRTs", "done", "Searching for 3 KRTs "},
            kFetchThree),
       0},
      {{"-n", "3", "-s", "10.1.2.33"},
       {"Searching for 3 KRTs", "Searching for single KRT at 10.1.2.33", "done",
        "Searching for Velto Keys", "Found KRT at 10.1.2.33",
        "Getting logs from KRT33",
        "Zipping up log files to KRTLog_10.1.2.33.zip", "done"},
       0},
      {{"-S", "10.1.2.33", "-s", "10.1.2.44"},
       {"Searching for single KRT at 10.1.2.44", "done",
        "Searching for Velto Keys", "Found KRT at 10.1.2.44",
        "Getting logs from KRT44",
        "Zipping up log files to KRTLog_10.1.2.44.zip", "done"},
       0},
      {{"-n", "0"},
       {"Searching for 0 KRTs", "done", "Searching for 0 KRTs ",
        "Searching for Velto Keys", "Zipping up log files to KRTLogs.zip",
        "done"},
       0},
  };
  for (const Case& c : cases) Expect(c);
}

TEST_F(KrtlogsCliTest, SearchesThatCannotSucceed) {
  const Case cases[] = {
      {{},
       Join({"Using default 10 KRTs", "done", "Searching for 10 KRTs "},
            kFindFive),
       255},
      {{"-n", "-2"},
       Join({"Searching for 10 KRTs", "done", "Searching for 10 KRTs "},
            kFindFive),
       255},
      {{"-s"},
       {"Searching for single KRT at ", "done", "Searching for Velto Keys",
        "Failed to find KRT at ", "done"},
       255},
  };
  for (const Case& c : cases) Expect(c);
}

TEST_F(KrtlogsCliTest, ClearOptionNeedsNoValue) {
  Expect({{"-N", "2", "-CLEAR"},
          {"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
           "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
           "Found an KRT at 10.1.2.2", "Clearing logs on KRT1",
           "Clearing logs on KRT2", "done"},
          0});
  Expect({{"-s", "-clear"},
          {"Searching for single KRT at ", "done", "Searching for Velto Keys",
           "Failed to find KRT at ", "done"},
          255});
}

// The ORB cannot start (omniORB also reads options from the environment;
// this one is malformed): one line on standard error, exit status 1.
TEST(KrtlogsOrbTest, OrbFailureIsOneLineOnStandardError) {
  testing_support::TempDir dir;
  testing_support::ProcessResult r =
      testing_support::RunProcess({KRTLOGS_BIN, "-s", "10.1.2.33"}, dir.path(),
                                  {"ORBInitRef=not-an-assignment"});
  EXPECT_EQ("Searching for single KRT at 10.1.2.33\n", r.out);
  EXPECT_EQ(
      "krtlogs: SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : "
      "INITIALIZE (INITIALIZE_InvalidORBInitArgs, completed = NO)\n",
      r.err);
  EXPECT_EQ(1, r.status);
}

}  // namespace
}  // namespace krtlogs_test
