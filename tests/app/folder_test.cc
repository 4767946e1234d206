// The output folder: creation, the run lock, the clean-up of a killed run's
// temporaries, temporary files and their commit over links and special
// files, the archive's names, backups and permission checks.
#include "app/folder.h"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/archive_target.h"
#include "app/temp_file.h"
#include "gtest/gtest.h"
#include "tests/app/folder_test_support.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::RunInChild;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uid_t kNobody = 65534;

// What `action` throws, or "" when it does not.
std::string Thrown(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs `body` in a child process as the user nobody and returns its text.
std::string AsNobody(const std::function<std::string()>& body) {
  return RunInChild([&] {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      return std::string("cannot become nobody");
    }
    return body();
  });
}

void WriteText(int fd, const std::string& text) {
  ASSERT_EQ(static_cast<ssize_t>(text.size()),
            write(fd, text.data(), text.size()));
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class FolderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }
  // A folder others may enter and write, for the tests run as nobody.
  void OpenToEveryone() { ASSERT_EQ(0, chmod(dir_.path().c_str(), 0777)); }
  void RequireRoot() {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as nobody";
  }

  TempDir dir_;
  TempDir outside_;  // a folder no test may write to through dir_
};

TEST_F(FolderTest, CreatesTheFolderWithItsParentsOrSaysWhyNot) {
  COutputFolder folder(Path("a/b/c/"));
  EXPECT_TRUE(S_ISDIR(ModeOf(Path("a/b/c"))));
  EXPECT_EQ(Path("a/b/c/KRTLogs.zip"), folder.PathOf("KRTLogs.zip"));
  EXPECT_EQ("the folder " + Path("a/b/c"), folder.Description());
  // The current folder keeps plain names, as the messages always had them.
  EXPECT_EQ(".|KRTLogs.zip|the current folder", RunInChild([&] {
              if (chdir(dir_.path().c_str()) != 0) return std::string("chdir");
              COutputFolder here("");
              return here.path() + "|" + here.PathOf("KRTLogs.zip") + "|" +
                     here.Description();
            }));

  WriteFile(Path("file"), "in the way");
  EXPECT_EQ("cannot create the folder " + Path("file/x/y") + " (" +
                Path("file") + "): Not a directory",
            Thrown([&] { COutputFolder f(Path("file/x/y")); }));
  EXPECT_EQ("in the way", ReadFile(Path("file")));
}

TEST_F(FolderTest, OneRunPerFolder) {
  // A killed run left a temporary; a second run is refused and removes
  // nothing; once the holder is killed, the next run cleans up.
  ForkedChild holder([&](const std::function<void()>& ready) {
    COutputFolder folder(dir_.path());
    CTempFile partial(folder, "KRT1_log.txt", CTempFile::Purpose::kLogFile);
    ready();
    ForkedChild::Hang();
  });
  ASSERT_TRUE(holder.WaitReady());
  try {
    COutputFolder second(dir_.path());
    FAIL() << "a second run took the lock";
  } catch (const CFolderBusy& busy) {
    EXPECT_EQ("another krtlogs run (process " + std::to_string(holder.pid()) +
                  ") is working in the folder " + dir_.path(),
              std::string(busy.what()));
  }
  Names during = List(dir_.path());
  ASSERT_EQ(2u, during.size());
  EXPECT_EQ(".krtlogs.lock", during[1]);
  EXPECT_TRUE(IsTemporaryName(during[0])) << during[0];

  holder.Signal(SIGKILL);
  EXPECT_EQ(128 + SIGKILL, holder.Wait());
  {
    COutputFolder next(dir_.path());
    EXPECT_EQ(1, next.stale_removed());
    EXPECT_EQ(Names({".krtlogs.lock"}), List(dir_.path()));
  }
  // The lock file goes with the run that holds it.
  EXPECT_EQ(Names(), List(dir_.path()));
}

TEST_F(FolderTest, CleanUpRemovesOnlyOurTemporaries) {
  std::string ours = TemporaryNameFor("KRT1_log.txt", 3);
  std::string outside_file = outside_.File("precious");
  WriteFile(outside_file, "precious");
  struct Case {
    std::string name;
    std::function<void(const std::string&)> make;
    bool removed;
  };
  auto file = [](const std::string& path) { WriteFile(path, "x"); };
  auto folder = [](const std::string& path) { mkdir(path.c_str(), 0755); };
  auto link_out = [&](const std::string& path) {
    ASSERT_EQ(symlink(outside_file.c_str(), path.c_str()), 0);
  };
  std::vector<Case> cases = {
      {ours, file, true},
      {".KRTLogs.zip.krtlogs-tmp-77-1", file, true},
      {".x.krtlogs-tmp-12-1", folder, false},          // not a file
      {".y.krtlogs-tmp-12-2", link_out, false},        // not a file
      {"KRT1_log.txt", file, false},                   // a final name
      {"KRT1_log.txt.krtlogs-tmp-1-2", file, false},   // no leading dot
      {".KRT1_log.txt.krtlogs-tmp-1-x", file, false},  // not a serial
      {".krtlogs-tmp-1-2", file, false},               // no final name
  };
  for (const Case& c : cases) c.make(Path(c.name));

  COutputFolder folder_object(dir_.path());
  EXPECT_EQ(2, folder_object.stale_removed());
  for (const Case& c : cases) {
    struct stat st;
    EXPECT_EQ(!c.removed, lstat(Path(c.name).c_str(), &st) == 0) << c.name;
  }
  // A long final name still gives a name the system accepts and the
  // clean-up recognises.
  std::string longest = TemporaryNameFor(std::string(255, 'k'), 99999);
  EXPECT_GE(255u, longest.size());
  EXPECT_TRUE(IsTemporaryName(longest));
  EXPECT_EQ("precious", ReadFile(outside_file));
}

TEST_F(FolderTest, ALockFileThatIsAFifoIsNeverOpened) {
  // Opening a FIFO for reading would wait for a writer forever.
  ASSERT_EQ(0, mkfifo(Path(".krtlogs.lock").c_str(), 0644));
  EXPECT_EQ("the lock file " + Path(".krtlogs.lock") + " is not a regular file",
            Thrown([&] { COutputFolder folder(dir_.path()); }));
}

TEST_F(FolderTest, AFolderThisUserCannotWriteIsStillLocked) {
  RequireRoot();
  ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
  // No lock file can be made there; the folder itself is locked.
  EXPECT_EQ("busy", AsNobody([&] {
              COutputFolder first(dir_.path());
              return Thrown([&] { COutputFolder again(dir_.path()); }).empty()
                         ? "taken"
                         : "busy";
            }));
  EXPECT_EQ(Names(), List(dir_.path()));
}

TEST_F(FolderTest, CommitReplacesWhateverIsAtTheFinalName) {
  // Nothing outside the folder is written, nothing is followed or opened.
  std::string target = outside_.File("target");
  std::string absent = outside_.File("absent");
  struct Case {
    std::string what;
    std::function<void(const std::string&)> make;
  };
  std::vector<Case> cases = {
      {"nothing", [](const std::string&) {}},
      {"older file", [](const std::string& p) { WriteFile(p, "older"); }},
      {"symlink to a file outside",
       [&](const std::string& p) {
         ASSERT_EQ(symlink(target.c_str(), p.c_str()), 0);
       }},
      {"dangling symlink",
       [&](const std::string& p) {
         ASSERT_EQ(symlink(absent.c_str(), p.c_str()), 0);
       }},
      {"hard link to a file outside",
       [&](const std::string& p) {
         ASSERT_EQ(link(target.c_str(), p.c_str()), 0);
       }},
      {"fifo", [](const std::string& p) { mkfifo(p.c_str(), 0644); }},
  };
  // A FIFO opened by mistake would block; end the test instead of hanging.
  alarm(120);
  COutputFolder folder(dir_.path());
  for (const Case& c : cases) {
    WriteFile(target, "outside");
    std::string final_path = Path("KRT5_log.txt");
    c.make(final_path);
    {
      CTempFile file(folder, "KRT5_log.txt", CTempFile::Purpose::kLogFile);
      WriteText(file.fd(), "complete\n");
      EXPECT_EQ("complete\n", ReadFile(file.path())) << c.what;
      file.Commit();
      EXPECT_TRUE(file.committed());
      EXPECT_EQ(-1, file.fd());
    }
    EXPECT_TRUE(S_ISREG(ModeOf(final_path))) << c.what;
    EXPECT_EQ("complete\n", ReadFile(final_path)) << c.what;
    EXPECT_EQ("outside", ReadFile(target)) << c.what;
    EXPECT_FALSE(FileExists(absent)) << c.what;
    EXPECT_EQ(Names({".krtlogs.lock", "KRT5_log.txt"}), List(dir_.path()))
        << c.what;
    unlink(final_path.c_str());
  }
  alarm(0);
}

TEST_F(FolderTest, OnlyACompleteFileTakesItsPlainName) {
  COutputFolder folder(dir_.path());
  for (const std::string& name :
       {std::string(), std::string(".."), std::string("../x"),
        std::string("/tmp/x"), std::string("KRT1\0/x", 7)}) {
    EXPECT_THROW(CTempFile(folder, name, CTempFile::Purpose::kLogFile),
                 qo::exception_t)
        << name;
  }
  WriteFile(Path("KRT1_log.txt"), "older");
  {
    CTempFile partial(folder, "KRT1_log.txt", CTempFile::Purpose::kLogFile);
    WriteText(partial.fd(), "cut mid-li");
    CTempFile scratch(folder, "KRT1_log.txt", CTempFile::Purpose::kScratch);
    EXPECT_THROW(scratch.Commit(), qo::exception_t);
    EXPECT_EQ(4u, List(dir_.path()).size());
  }
  EXPECT_EQ("older", ReadFile(Path("KRT1_log.txt")));

  // A folder in the way: the commit fails, naming the file.
  ASSERT_EQ(0, mkdir(Path("KRT2_log.txt").c_str(), 0755));
  {
    CTempFile file(folder, "KRT2_log.txt", CTempFile::Purpose::kLogFile);
    EXPECT_TRUE(Has(Thrown([&] { file.Commit(); }),
                    "cannot give " + Path("KRT2_log.txt") + " its name"));
  }
  EXPECT_EQ(Names({".krtlogs.lock", "KRT1_log.txt", "KRT2_log.txt"}),
            List(dir_.path()));
  EXPECT_EQ(Names(), List(outside_.path()));
}

// Archive names.

TEST(ArchiveNameTest, StampedNamesUseTheUtcStartTimeAndAFreeNumber) {
  // 2026-12-08 20:45:00 UTC, 22:15:00 in a zone 1 h 30 min east.
  constexpr std::time_t kStart = 1796762700;
  std::string text = RunInChild([&] {
    setenv("TZ", "<+0130>-1:30", 1);
    tzset();
    TempDir dir;
    COutputFolder folder(dir.path());
    std::string names;
    auto choose = [&](bool single, const std::string& address, bool stamp) {
      std::optional<std::time_t> start;
      if (stamp) start = kStart;
      names += ChooseArchiveName(folder, single, address, start) + "\n";
    };
    choose(false, "", false);
    choose(true, "10.1.2.33", false);
    choose(true, "", false);
    choose(false, "", true);
    choose(true, "10.1.2.33", true);
    WriteFile(dir.File("KRTLogs_20261208-204500Z.zip"), "taken");
    choose(false, "", true);
    mkdir(dir.File("KRTLogs_20261208-204500Z-2.zip").c_str(), 0755);
    choose(false, "", true);
    std::string dangling = dir.File("KRTLog_10.1.2.33_20261208-204500Z.zip");
    // A failure shows in the comparison below.
    if (symlink("/nowhere", dangling.c_str()) != 0) names += "no symlink\n";
    choose(true, "10.1.2.33", true);
    WriteFile(dir.File("KRTLogs.zip"), "taken");
    choose(false, "", false);  // without a stamp the name is replaced
    names += Thrown([&] { choose(true, "10.1.2.1/../../x", true); });
    return names;
  });
  EXPECT_EQ(
      "KRTLogs.zip\n"
      "KRTLog_10.1.2.33.zip\n"
      "KRTLog_.zip\n"
      "KRTLogs_20261208-204500Z.zip\n"
      "KRTLog_10.1.2.33_20261208-204500Z.zip\n"
      "KRTLogs_20261208-204500Z-2.zip\n"
      "KRTLogs_20261208-204500Z-3.zip\n"
      "KRTLog_10.1.2.33_20261208-204500Z-2.zip\n"
      "KRTLogs.zip\n"
      "\"KRTLog_10.1.2.1/../../x.zip\" is not a plain file name",
      text);
}

// Archive replacement.

class ArchiveTargetTest : public FolderTest {
 protected:
  // Writes an archive with `text` through a target and commits it.
  std::string Replace(COutputFolder& folder, const std::string& text,
                      bool keep_backup) {
    CArchiveTarget target(folder, "KRTLogs.zip");
    WriteText(target.fd(), text);
    return target.Commit(keep_backup);
  }
};

TEST_F(ArchiveTargetTest, OlderArchivesAreKeptAsNumberedBackups) {
  struct Case {
    Names before;        // besides KRTLogs.zip, when `older`
    bool older;          // an archive of that name exists
    bool keep_backup;    // the run had failed units
    std::string backup;  // expected result
  };
  std::vector<Case> cases = {
      {{}, false, true, ""},
      {{}, true, false, ""},
      {{}, true, true, "KRTLogs.zip.~1~"},
      {{"KRTLogs.zip.~1~"}, true, true, "KRTLogs.zip.~2~"},
      {{"KRTLogs.zip.~1~", "KRTLogs.zip.~3~"}, true, true, "KRTLogs.zip.~4~"},
      {{"KRTLogs.zip.~2~", "KRTLogs.zip.~x~", "KRTLog_1.zip.~7~"},
       true,
       true,
       "KRTLogs.zip.~3~"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Names expected = c.before;
    for (const std::string& name : c.before) WriteFile(dir.File(name), name);
    if (c.older) WriteFile(dir.File("KRTLogs.zip"), "older");
    {
      COutputFolder folder(dir.path());
      EXPECT_EQ(c.backup, Replace(folder, "newer", c.keep_backup));
    }
    EXPECT_EQ("newer", ReadFile(dir.File("KRTLogs.zip")));
    if (!c.backup.empty()) {
      EXPECT_EQ("older", ReadFile(dir.File(c.backup)));
      expected.push_back(c.backup);
    }
    expected.push_back("KRTLogs.zip");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, List(dir.path())) << c.backup;
  }
}

TEST_F(ArchiveTargetTest, TheNewArchiveKeepsThePermissionBits) {
  mode_t mask = umask(0);
  umask(mask);
  COutputFolder folder(dir_.path());
  std::string archive = Path("KRTLogs.zip");
  Replace(folder, "first", false);
  EXPECT_EQ(S_IFREG | (0666 & ~mask), ModeOf(archive));
  // 0444: root could have written it in place, so root may replace it.
  for (mode_t mode : {0640, 0444}) {
    ASSERT_EQ(0, chmod(archive.c_str(), mode));
    Replace(folder, "newer", false);
    EXPECT_EQ(S_IFREG | mode, ModeOf(archive));
    if (geteuid() != 0) break;
  }
  // A link is replaced, and its target's bits are not taken.
  WriteFile(outside_.File("target"), "outside");
  ASSERT_EQ(0, chmod(outside_.File("target").c_str(), 0600));
  ASSERT_EQ(0, unlink(archive.c_str()));
  ASSERT_EQ(0, symlink(outside_.File("target").c_str(), archive.c_str()));
  Replace(folder, "newest", false);
  EXPECT_EQ(S_IFREG | (0666 & ~mask), ModeOf(archive));
  EXPECT_EQ("newest", ReadFile(archive));
  EXPECT_EQ("outside", ReadFile(outside_.File("target")));
}

TEST_F(ArchiveTargetTest, ANameThatCannotTakeAnArchiveIsRefusedFirst) {
  // Claimed before the archive is said to be made, so the caller can keep
  // the text files and say only that the archive failed.
  ASSERT_EQ(0, mkdir(Path("KRTLogs.zip").c_str(), 0755));
  {
    COutputFolder folder(dir_.path());
    std::string thrown = Thrown([&] {
      CArchiveTarget t(folder, "KRTLogs.zip");
      t.Claim("KRTLogs.zip");
    });
    EXPECT_EQ(
        "cannot write the archive " + Path("KRTLogs.zip") + ": Is a directory",
        thrown);
    EXPECT_EQ(Names({".krtlogs.lock", "KRTLogs.zip"}), List(dir_.path()));
  }
  ASSERT_EQ(0, rmdir(Path("KRTLogs.zip").c_str()));

  RequireRoot();
  OpenToEveryone();
  struct Case {
    std::string what;
    mode_t mode;
    uid_t owner;
    std::string thrown;  // empty: accepted
  };
  std::string refused = "the older archive " + Path("KRTLogs.zip") +
                        " cannot be replaced by this user: Permission denied";
  std::vector<Case> cases = {
      {"root's, read-only for others", 0644, 0, refused},
      {"nobody's, read-only for its owner", 0444, kNobody, refused},
      {"root's, writable for all", 0666, 0, ""},
      {"nobody's", 0600, kNobody, ""},
  };
  for (const Case& c : cases) {
    WriteFile(Path("KRTLogs.zip"), "older");
    ASSERT_EQ(0, chmod(Path("KRTLogs.zip").c_str(), c.mode));
    ASSERT_EQ(0, chown(Path("KRTLogs.zip").c_str(), c.owner, c.owner));
    std::string text = AsNobody([&] {
      COutputFolder folder(dir_.path());
      std::string thrown = Thrown([&] {
        CArchiveTarget target(folder, "KRTLogs.zip");
        target.Claim("KRTLogs.zip");
        if (write(target.fd(), "newer", 5) != 5) throw std::runtime_error("");
        target.Commit(false);
      });
      return thrown;
    });
    EXPECT_EQ(c.thrown, text) << c.what;
    EXPECT_EQ(c.thrown.empty() ? "newer" : "older",
              ReadFile(Path("KRTLogs.zip")))
        << c.what;
    EXPECT_EQ(Names({"KRTLogs.zip"}), List(dir_.path())) << c.what;
    unlink(Path("KRTLogs.zip").c_str());
  }

  // A folder nobody may not write to.
  ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
  std::string text = AsNobody([&] {
    COutputFolder folder(dir_.path());
    return Thrown([&] { CArchiveTarget target(folder, "KRTLogs.zip"); });
  });
  EXPECT_EQ("cannot create a temporary file for " + Path("KRTLogs.zip") +
                ": Permission denied",
            text);
  EXPECT_EQ(Names(), List(dir_.path()));
}

}  // namespace
}  // namespace krtlogs_test
