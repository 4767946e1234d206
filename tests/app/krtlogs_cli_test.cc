// Runs the built tool as a process and compares its whole standard output
// and its exit status for the argument lists a technician may type.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::RunProcess;
using testing_support::TempDir;

struct Case {
  std::vector<std::string> args;
  std::string out;
  int status;
};

TEST(KrtlogsCliTest, PrintsTheRunLinesInOrder) {
  const Case cases[] = {
      {{}, "Using default 10 KRTs\ndone\nSearching for 10 KRTs \ndone\n", 0},
      {{"-n", "3"},
       "Searching for 3 KRTs\ndone\nSearching for 3 KRTs \ndone\n",
       0},
      {{"-n", "3", "-s", "10.1.2.33"},
       "Searching for 3 KRTs\nSearching for single KRT at 10.1.2.33\ndone\n"
       "done\n",
       0},
      {{"-s", "10.1.2.33", "-clear"},
       "Searching for single KRT at 10.1.2.33\ndone\ndone\n",
       0},
      {{"-S", "10.1.2.33", "-s", "10.1.2.44"},
       "Searching for single KRT at 10.1.2.44\ndone\ndone\n",
       0},
      {{"-N", "2", "-CLEAR"},
       "Searching for 2 KRTs\ndone\nSearching for 2 KRTs \ndone\n",
       0},
      {{"-n", "3", "-n", "4"},
       "Searching for 3 KRTs\ndone\nSearching for 3 KRTs \ndone\n",
       0},
      {{"-n", "12x"},
       "Searching for 12 KRTs\ndone\nSearching for 12 KRTs \ndone\n",
       0},
      {{"-n", " 5"},
       "Searching for 5 KRTs\ndone\nSearching for 5 KRTs \ndone\n",
       0},
      {{"-n", "-2"},
       "Searching for 10 KRTs\ndone\nSearching for 10 KRTs \ndone\n",
       0},
      {{"-n"},
       "Searching for 10 KRTs\ndone\nSearching for 10 KRTs \ndone\n",
       0},
      {{"-n", "x3"},
       "Searching for 10 KRTs\ndone\nSearching for 10 KRTs \ndone\n",
       0},
      {{"-n", "0"},
       "Searching for 0 KRTs\ndone\nSearching for 0 KRTs \ndone\n",
       0},
      {{"-s", "-clear"}, "Searching for single KRT at \ndone\ndone\n", 0},
      {{"stray", "-x"},
       "Using default 10 KRTs\ndone\nSearching for 10 KRTs \ndone\n",
       0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::vector<std::string> argv = {KRTLOGS_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    testing_support::ProcessResult r = RunProcess(argv, dir.path());
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(c.out, r.out) << "krtlogs " << shown;
    EXPECT_EQ(c.status, r.status) << "krtlogs " << shown;
  }
}

}  // namespace
