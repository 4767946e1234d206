// Interrupted runs: each signal removes the unfinished files, keeps the
// complete ones and any older archive, says so and ends with 128 + n; the
// clean-up never races with threads creating and committing files.
#include "app/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/archive_target.h"
#include "app/folder.h"
#include "app/temp_file.h"
#include "gtest/gtest.h"
#include "tests/app/folder_test_support.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {
namespace {

using testing_support::ReadFile;
using testing_support::RunInChild;
using testing_support::TempDir;
using testing_support::WriteFile;
using Purpose = CTempFile::Purpose;

void Write(int fd, const std::string& text) {
  if (write(fd, text.data(), text.size()) !=
      static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("write failed");
  }
}

void WriteStderr(const std::string& text) {
  if (write(STDERR_FILENO, text.data(), text.size()) < 0) {
  }
}

TEST(InterruptWatcherTest, RefusesToStartUnlessTheSignalsAreBlocked) {
  // In children: the mask and the watcher's thread must not outlive them.
  std::string text = RunInChild([] {
    try {
      CInterruptWatcher watcher;
      return std::string("started");
    } catch (const qo::exception_t& e) {
      return std::string(e.what());
    }
  });
  EXPECT_EQ("SIGINT must be blocked before the interrupt watcher starts", text);
  text = RunInChild([] {
    BlockInterruptSignals();
    { CInterruptWatcher watcher; }
    // A stopped watcher leaves the signals blocked: nothing ends the
    // process now.
    kill(getpid(), SIGTERM);
    return std::string("stopped");
  });
  EXPECT_EQ("stopped", text);
}

class InterruptTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }

  TempDir dir_;
};

TEST_F(InterruptTest, EachSignalRemovesTheUnfinishedFilesAndKeepsTheRest) {
  struct Case {
    int signal;
    const char* name;
  };
  for (const Case& c : std::vector<Case>{
           {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
    TempDir dir;
    WriteFile(dir.File("KRTLogs.zip"), "older archive");
    ForkedChild child([&](const std::function<void()>& ready) {
      BlockInterruptSignals();
      COutputFolder folder(dir.path());
      CInterruptWatcher watcher;
      watcher.SetBeforeMessage([] { WriteStderr("\r<erased>"); });
      for (const char* name : {"KRT1_log.txt", "KRT2_log.txt"}) {
        CTempFile complete(folder, name, Purpose::kLogFile);
        Write(complete.fd(), std::string(name) + " complete\n");
        complete.Commit();
      }
      CTempFile partial(folder, "KRT3_log.txt", Purpose::kLogFile);
      Write(partial.fd(), "cut mid-li");
      CTempFile deflated(folder, "KRT1_log.txt", Purpose::kScratch);
      CArchiveTarget archive(folder, "KRTLogs.zip");
      Write(archive.fd(), "PK partial");
      ready();
      ForkedChild::Hang();
    });
    ASSERT_TRUE(child.WaitReady()) << child.err();
    child.Signal(c.signal);
    EXPECT_EQ(128 + c.signal, child.Wait()) << child.err();
    EXPECT_EQ(std::string("\r<erased>krtlogs: interrupted (") + c.name +
                  "): removed the unfinished files; 2 complete log files "
                  "kept in the folder " +
                  dir.path() + "\n",
              child.err());
    EXPECT_EQ(Names({"KRT1_log.txt", "KRT2_log.txt", "KRTLogs.zip"}),
              List(dir.path()));
    EXPECT_EQ("KRT2_log.txt complete\n", ReadFile(dir.File("KRT2_log.txt")));
    EXPECT_EQ("older archive", ReadFile(dir.File("KRTLogs.zip")));
  }
}

TEST_F(InterruptTest, ASignalBeforeTheFolderIsOpenEndsTheRunPlainly) {
  ForkedChild child([&](const std::function<void()>& ready) {
    BlockInterruptSignals();
    CInterruptWatcher watcher;
    ready();
    ForkedChild::Hang();
  });
  ASSERT_TRUE(child.WaitReady()) << child.err();
  child.Signal(SIGINT);
  EXPECT_EQ(128 + SIGINT, child.Wait());
  EXPECT_EQ("krtlogs: interrupted (SIGINT)\n", child.err());
}

TEST_F(InterruptTest, AfterTheArchiveTookItsNameItIsSaidToBeComplete) {
  ForkedChild child([&](const std::function<void()>& ready) {
    BlockInterruptSignals();
    COutputFolder folder(dir_.path());
    CInterruptWatcher watcher;
    CTempFile log(folder, "KRT1_log.txt", Purpose::kLogFile);
    log.Commit();
    CTempFile state(folder, "krtlogs.state", Purpose::kOther);
    state.Commit();
    CArchiveTarget archive(folder, "KRTLogs.zip");
    Write(archive.fd(), "PK complete");
    archive.Commit(false);
    // Packed into the archive, the log file goes; the state file is not a
    // log file.
    unlink(folder.PathOf("KRT1_log.txt").c_str());
    ready();
    ForkedChild::Hang();
  });
  ASSERT_TRUE(child.WaitReady()) << child.err();
  child.Signal(SIGTERM);
  EXPECT_EQ(128 + SIGTERM, child.Wait());
  EXPECT_EQ(
      "krtlogs: interrupted (SIGTERM): 0 complete log files kept in "
      "the folder " +
          dir_.path() + "; the archive " + Path("KRTLogs.zip") +
          " is complete\n",
      child.err());
  EXPECT_EQ(Names({"KRTLogs.zip", "krtlogs.state"}), List(dir_.path()));
}

TEST_F(InterruptTest, NoTemporarySurvivesAndNoCommittedFileIsLost) {
  // Workers create, fill and commit files as fast as they can while the
  // signal arrives; whatever the moment, the folder then holds only
  // complete files, exactly as many as the message says.
  constexpr int kWorkers = 3;
  const std::string kBody(4096, 'e');
  ForkedChild child([&](const std::function<void()>& ready) {
    BlockInterruptSignals();
    COutputFolder folder(dir_.path());
    CInterruptWatcher watcher;
    std::atomic<int> started{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int i = 0;; ++i) {
          std::string name =
              "KRT" + std::to_string(w) + "-" + std::to_string(i) + "_log.txt";
          CTempFile file(folder, name, Purpose::kLogFile);
          Write(file.fd(), name + "\n");
          Write(file.fd(), kBody);
          file.Commit();
          if (i == 1) ++started;
        }
      });
    }
    while (started < kWorkers) std::this_thread::yield();
    ready();
    for (std::thread& worker : workers) worker.join();
  });
  ASSERT_TRUE(child.WaitReady()) << child.err();
  child.Signal(SIGTERM);
  ASSERT_EQ(128 + SIGTERM, child.Wait()) << child.err();

  Names names = List(dir_.path());
  ASSERT_GE(names.size(), static_cast<size_t>(2 * kWorkers));
  for (const std::string& name : names) {
    EXPECT_FALSE(IsTemporaryName(name)) << name;
    EXPECT_TRUE(ReadFile(Path(name)) == name + "\n" + kBody)
        << name << " is not complete";
  }
  // A worker between two files has nothing unfinished.
  std::string kept = std::to_string(names.size()) +
                     " complete log files kept in the folder " + dir_.path() +
                     "\n";
  std::string err = child.err();
  EXPECT_TRUE(err == "krtlogs: interrupted (SIGTERM): " + kept ||
              err ==
                  "krtlogs: interrupted (SIGTERM): removed the unfinished "
                  "files; " +
                      kept)
      << err;
}

}  // namespace
}  // namespace krtlogs_test
