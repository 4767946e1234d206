// What the tool does to the files already in its folder and around it:
// links and special files at its files' names are replaced, never followed;
// a run in which units failed keeps the older archive; an older archive
// keeps its permission bits and is not replaced by a user who could not
// have written it. Nothing outside the folder changes, and no log is lost.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

// A run that hangs is killed after this long (status 128 + SIGKILL), so
// that a hang fails the test instead of stopping the suite.
const Strings kNoHang = {"timeout", "-s", "KILL", "120"};
const Strings kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534",
                           "--clear-groups"};
constexpr mode_t kPermissionBits = 0777;

mode_t Mode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & kPermissionBits;
}

nlink_t LinkCount(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_nlink;
}

enum class Thing { kSymlink, kHardLink, kFifo };

// Puts `thing` at `at`: a link to `target`, or a FIFO. Returns 0 or -1.
int Make(Thing thing, const std::string& at, const std::string& target) {
  switch (thing) {
    case Thing::kSymlink:
      return symlink(target.c_str(), at.c_str());
    case Thing::kHardLink:
      return link(target.c_str(), at.c_str());
    case Thing::kFifo:
      return mkfifo(at.c_str(), 0644);
  }
  return -1;
}

TEST_F(E2eTest, LinksAndSpecialFilesAtTheToolsNamesAreReplacedNotFollowed) {
  StartUnits({"--units", "1", "--entries", "25"});
  TempDir outside;
  const std::string victim = outside.File("victim");
  WriteFile(victim, "precious");
  const struct {
    const char* what;
    const char* name;  // the tool's file the thing is put at
    Thing thing;
    std::string target;
  } cases[] = {
      {"symlink to a file outside", "KRT1_log.txt", Thing::kSymlink, victim},
      {"dangling symlink to outside", "KRT1_log.txt", Thing::kSymlink,
       outside.File("created")},
      {"hard link to a file outside", "KRT1_log.txt", Thing::kHardLink, victim},
      {"FIFO", "KRT1_log.txt", Thing::kFifo, ""},
      {"hard link at the lock file's name", ".krtlogs.lock", Thing::kHardLink,
       victim},
      {"symlink at the archive's name", "KRTLogs.zip", Thing::kSymlink, victim},
      {"dangling symlink at the archive's name", "KRTLogs.zip", Thing::kSymlink,
       outside.File("created.zip")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir folder;
    ASSERT_EQ(0, Make(c.thing, folder.File(c.name), c.target));
    ProcessResult r = Krtlogs({"-n", "1"}, folder.path(), kNoHang);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Strings({"Getting logs from KRT1",
                       "Zipping up log files to KRTLogs.zip", "done"}),
              Tail(r.out, 3))
        << r.err;
    EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(folder.path()));
    ExpectArchive(folder.File("KRTLogs.zip"),
                  {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 25)}});
    EXPECT_EQ(Strings({"victim"}), Files(outside.path()));
    EXPECT_EQ("precious", ReadFile(victim));
    EXPECT_EQ(1u, LinkCount(victim));
  }
}

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

  // Units whose logs are merely empty still make their (empty) archive,
  // but the older one, perhaps the only copy of the logs, is kept beside it.
  auto empty = Krtlogs({"-n", "0"});
  EXPECT_EQ(0, empty.status) << empty.err;
  ExpectArchive(Work("KRTLogs.zip"), {});
  EXPECT_EQ("the only copy", ReadFile(Work("KRTLogs.zip.~1~")));
  EXPECT_NE(std::string::npos, empty.err.find("KRTLogs.zip.~1~")) << empty.err;
}

TEST_F(E2eTest, UnitsWithEmptyLogsMakeAnArchiveWithoutEntries) {
  StartUnits({"--units", "2", "--entries", "10", "--fault", "10.1.2.1:empty",
              "--fault", "10.1.2.2:empty"});
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ(
      Strings({"No Log entries found on KRT 1", "No Log entries found on KRT 2",
               "Zipping up log files to KRTLogs.zip", "done"}),
      Tail(r.out, 4))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"), {});
}

TEST_F(E2eTest, ARunWithFailedUnitsKeepsTheOlderArchiveAsANumberedBackup) {
  // Unit 2 fails; unit 3 sends less than its range announced.
  StartUnits({"--units", "3", "--entries", "20", "--fault",
              "10.1.2.2:range-error:0x20000403", "--fault",
              "10.1.2.3:short:5"});
  WriteFile(Work("KRTLogs.zip"), "the first older archive");
  ASSERT_EQ(0, chmod(Work("KRTLogs.zip").c_str(), 0640));
  const std::vector<testing_support::ExpectedEntry> partial = {
      {"KRT1_log.txt", ExpectedLog("10.1.2.1", 20)},
      {"KRT3_log.txt", ExpectedLog("10.1.2.3", 20, 1, 5)}};

  std::string previous = ReadFile(Work("KRTLogs.zip"));
  for (const char* backup : {"KRTLogs.zip.~1~", "KRTLogs.zip.~2~"}) {
    SCOPED_TRACE(backup);
    ProcessResult r = Krtlogs({"-n", "3"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(Strings({"Zipping up log files to KRTLogs.zip", "done"}),
              Tail(r.out, 2));
    EXPECT_NE(std::string::npos,
              r.err.find("krtlogs: the older KRTLogs.zip is kept as " +
                         std::string(backup) + "\n"))
        << r.err;
    EXPECT_EQ(previous, ReadFile(Work(backup)));
    ExpectArchive(Work("KRTLogs.zip"), partial);
    EXPECT_EQ(0640u, Mode(Work("KRTLogs.zip")));
    previous = ReadFile(Work("KRTLogs.zip"));
  }

  // A run without failures replaces the archive and makes no backup.
  ProcessResult r = Krtlogs({"-n", "1"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("kept as")) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip", "KRTLogs.zip.~1~", "KRTLogs.zip.~2~"}),
            Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"), {partial[0]});
  EXPECT_EQ(0640u, Mode(Work("KRTLogs.zip")));
  EXPECT_EQ("the first older archive", ReadFile(Work("KRTLogs.zip.~1~")));
}

TEST_F(E2eTest, AnOlderArchiveTheUserCannotWriteIsNotReplaced) {
  StartUnits({"--units", "2", "--entries", "10"});
  // A folder everyone may write in, holding root's read-only archive.
  const std::string folder = Work("shared");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  ASSERT_EQ(0, chmod(folder.c_str(), 0777));
  WriteFile(folder + "/KRTLogs.zip", "root's archive");
  ASSERT_EQ(0, chmod((folder + "/KRTLogs.zip").c_str(), 0644));

  // Refused before any unit is asked, as -noclobber refuses.
  ProcessResult r = Krtlogs({"-n", "2"}, folder, kAsNobody);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(
      "krtlogs: the older archive KRTLogs.zip cannot be replaced by this "
      "user: Permission denied\n",
      r.err);
  EXPECT_EQ("root's archive", ReadFile(folder + "/KRTLogs.zip"));
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(folder));
}

}  // namespace
}  // namespace krtlogs_test
