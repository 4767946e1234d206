// What the tool does to the files already in its folder when runs fail:
// nothing that could lose a log.
#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

TEST_F(E2eTest, ARunInWhichEveryUnitFailedKeepsTheOlderArchive) {
  StartUnits({"--units", "2", "--entries", "10", "--fault",
              "10.1.2.1:range-error:0x20000403", "--fault",
              "10.1.2.2:bad-reference"});
  WriteFile(Work("KRTLogs.zip"), "the only copy");
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Found an KRT at 10.1.2.2", "Failed to get logs from KRT1",
                     "Failed to get logs from KRT2", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("no archive written")) << r.err;
  EXPECT_EQ("the only copy", ReadFile(Work("KRTLogs.zip")));
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));

  // Units whose logs are merely empty still make their (empty) archive.
  auto empty = Krtlogs({"-n", "0"});
  EXPECT_EQ(0, empty.status) << empty.err;
  ExpectArchive(Work("KRTLogs.zip"), {});
}

}  // namespace
}  // namespace krtlogs_test
