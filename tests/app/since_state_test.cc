// The incremental state: what each unit is asked for, what a run records,
// and how the file is read and replaced.
#include "app/output/since_state.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/folder.h"
#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "tests/app/output_test_util.h"
#include "tests/support/temp_dir.h"

namespace output_test {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Names = std::vector<std::string>;

constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();

TEST(PlanFetchTest, OnlyNewEntriesWhileTheRecordStillFitsTheLog) {
  struct Case {
    const char* what;
    bool recorded;
    uint32_t last_index, log_first;  // the record
    uint32_t first, last;            // range now
    bool incremental;
    uint32_t from, count;  // the plan
    uint32_t dropped = 0;  // gone after the record, before the log's first
  };
  const Case cases[] = {
      {"no record", false, 0, 0, 0, 100, false, 0, 100},
      {"no record, empty log", false, 0, 0, 5, 5, false, 5, 0},
      {"no record, inverted range", false, 0, 0, 9, 5, false, 9, 0},
      {"new entries", true, 89, 0, 0, 100, true, 90, 10},
      {"nothing new", true, 99, 0, 0, 100, true, 100, 0},
      {"record one past the log", true, 100, 0, 0, 100, false, 0, 100},
      {"record far past the log", true, 500, 0, 0, 100, false, 0, 100},
      {"entries dropped since", true, 49, 0, 60, 100, false, 60, 40, 10},
      {"entries dropped, none left", true, 49, 0, 60, 60, false, 60, 0, 10},
      {"inverted range after a record", true, 49, 0, 100, 60, false, 100, 0},
      {"record just before first", true, 59, 0, 60, 100, true, 60, 40},
      {"cleared, nothing new", true, 99, 0, 100, 100, false, 100, 0},
      {"cleared, then new entries", true, 99, 0, 100, 130, true, 100, 30},
      {"numbered afresh", true, 49, 10, 0, 100, false, 0, 100},
      {"record at the largest index", true, kMax, 0, 0, 100, false, 0, 100},
      {"log at the largest index", true, kMax - 2, 0, 0, kMax, true, kMax - 1,
       1},
  };
  for (const Case& c : cases) {
    SinceRecord record{c.last_index, c.log_first, ""};
    FetchPlan plan = PlanFetch(c.recorded ? &record : nullptr, c.first, c.last);
    EXPECT_EQ(c.incremental, plan.incremental) << c.what;
    EXPECT_EQ(c.from, plan.from) << c.what;
    EXPECT_EQ(c.count, plan.count) << c.what;
    EXPECT_EQ(c.dropped, plan.dropped) << c.what;
  }
}

class SinceStateTest : public ::testing::Test {
 protected:
  std::string StatePath() const { return dir_.File(kStateFileName); }
  // The test's folder as the tool holds it, made when first needed.
  const COutputFolder& Folder() {
    if (!folder_) folder_.reset(new COutputFolder(dir_.path()));
    return *folder_;
  }

  static UnitOutcome Collected(const std::string& key, UnitStatus status,
                               FetchPlan asked, uint32_t written_first,
                               uint64_t entries) {
    UnitOutcome unit;
    unit.key = key;
    unit.status = status;
    unit.ranged = true;
    unit.range_first = 10;
    unit.range_end = asked.from + asked.count;
    unit.asked = asked;
    unit.written.entries = entries;
    unit.written.first = written_first;
    unit.written.last =
        entries == 0 ? 0 : written_first + static_cast<uint32_t>(entries) - 1;
    return unit;
  }

  // A state holding "kept" (not in the run) and "stays" (fails, empties or
  // comes back with a gap) at 41, and whatever the run records.
  CSinceState SavedAndLoaded(const std::vector<UnitOutcome>& run) {
    CSinceState before = CSinceState::Load(Folder());
    before.Update(
        {Collected("kept", UnitStatus::kOk, {false, 10, 32}, 10, 32),
         Collected("stays", UnitStatus::kOk, {false, 10, 32}, 10, 32)},
        now_);
    before.Save(Folder());
    CSinceState state = CSinceState::Load(Folder());
    state.Update(run, now_ + std::chrono::hours(1));
    state.Save(Folder());
    return CSinceState::Load(Folder());
  }

  TempDir dir_;
  std::unique_ptr<COutputFolder> folder_;
  const std::chrono::system_clock::time_point now_ =
      std::chrono::system_clock::from_time_t(1796768100);
};

TEST_F(SinceStateTest, OnlyUnitsThatGotEverythingAskedForMoveOn) {
  struct Case {
    const char* what;
    UnitOutcome unit;
    bool moves;             // else "stays" keeps 41
    uint32_t moved_to = 0;  // when not the file's last index
  };
  // The log dropped `n` entries: before the run (the plan says), or while
  // it was read (the file starts that much later).
  auto dropped = [](UnitOutcome unit, uint32_t before, uint32_t during) {
    unit.asked.dropped = before;
    unit.dropped_while_read = during;
    return unit;
  };
  const Case cases[] = {
      {"whole log",
       Collected("stays", UnitStatus::kOk, {false, 10, 50}, 10, 50), true},
      {"new entries", Collected("stays", UnitStatus::kOk, {true, 42, 8}, 42, 8),
       true},
      {"log moved on during the call",
       Collected("stays", UnitStatus::kOk, {true, 42, 8}, 45, 8), false},
      {"log moved on during the call, dropping what the file lacks",
       dropped(Collected("stays", UnitStatus::kOk, {true, 42, 8}, 45, 8), 0, 3),
       true},
      {"log moved on past the record, then during the call",
       dropped(Collected("stays", UnitStatus::kOk, {false, 50, 8}, 51, 8), 8,
               1),
       true},
      {"entries dropped, none left",
       dropped(Collected("stays", UnitStatus::kEmpty, {false, 10, 0}, 0, 0), 5,
               0),
       true, 9},
      {"fewer entries than asked, the newest",
       Collected("stays", UnitStatus::kOk, {false, 10, 50}, 55, 5), false},
      {"failed part-way",
       Collected("stays", UnitStatus::kFailed, {true, 42, 8}, 42, 3), false},
      {"nothing new",
       Collected("stays", UnitStatus::kEmpty, {true, 42, 0}, 0, 0), false},
      {"an empty reply",
       Collected("stays", UnitStatus::kOk, {true, 42, 8}, 0, 0), false},
  };
  for (const Case& c : cases) {
    CSinceState state = SavedAndLoaded({c.unit});
    EXPECT_EQ("", state.problem()) << c.what;
    ASSERT_EQ(2u, state.size()) << c.what;
    ASSERT_NE(nullptr, state.Find("kept"));
    EXPECT_EQ(41u, state.Find("kept")->last_index) << c.what;
    EXPECT_EQ("2026-12-08T22:15:00Z", state.Find("kept")->collected);
    const SinceRecord* stays = state.Find("stays");
    ASSERT_NE(nullptr, stays);
    if (c.moves) {
      EXPECT_EQ(c.moved_to != 0 ? c.moved_to : c.unit.written.last,
                stays->last_index)
          << c.what;
      EXPECT_EQ(10u, stays->log_first) << c.what;
      EXPECT_EQ("2026-12-08T23:15:00Z", stays->collected) << c.what;
    } else {
      EXPECT_EQ(41u, stays->last_index) << c.what;
    }
  }
}

TEST_F(SinceStateTest, MissingIsEmptyAndUnreadableOrMalformedIsEmptyAndSaid) {
  CSinceState missing = CSinceState::Load(Folder());
  EXPECT_EQ("", missing.problem());
  EXPECT_EQ(0u, missing.size());

  const std::string good =
      R"({"version":1,"units":{"a":{"last_index":5,"log_first":0}}})";
  WriteFile(StatePath(), good);
  CSinceState read = CSinceState::Load(Folder());
  EXPECT_EQ("", read.problem());
  ASSERT_NE(nullptr, read.Find("a"));
  EXPECT_EQ(5u, read.Find("a")->last_index);

  const std::string malformed[] = {
      "",
      "{",
      "[]",
      "null",
      R"({"units":{}})",
      R"({"version":2,"units":{}})",
      R"({"version":1,"units":[]})",
      R"({"version":1,"units":{"a":5}})",
      R"({"version":1,"units":{"a":{"log_first":0}}})",
      R"({"version":1,"units":{"a":{"last_index":-1,"log_first":0}}})",
      R"({"version":1,"units":{"a":{"last_index":1.5,"log_first":0}}})",
      R"({"version":1,"units":{"a":{"last_index":4294967296,"log_first":0}}})",
      R"({"version":1,"units":{"a":{"last_index":"5","log_first":0}}})",
      R"({"version":1,"units":{"a":{"last_index":5,"log_first":0},)"
      R"("b":{"last_index":5}}})",
      "{\"version\":1,\"units\":{\"\xff\":{\"last_index\":5,\"log_first\":0}}}",
  };
  for (const std::string& text : malformed) {
    WriteFile(StatePath(), text);
    CSinceState state = CSinceState::Load(Folder());
    EXPECT_EQ(0u, state.size()) << text;
    EXPECT_NE(std::string::npos, state.problem().find(StatePath()))
        << text << ": " << state.problem();
  }

  // The next save replaces a malformed file with a good one.
  CSinceState state = CSinceState::Load(Folder());
  state.Update({Collected("a", UnitStatus::kOk, {false, 10, 5}, 10, 5)}, now_);
  state.Save(Folder());
  EXPECT_EQ("", CSinceState::Load(Folder()).problem());

  // Whatever else has the name is never followed, read past the limit, nor
  // (a FIFO, a device) opened: whole logs then, and a warning.
  WriteFile(dir_.File("elsewhere"), good);
  const struct {
    const char* what;
    std::function<int()> make;
    const char* said;
  } kinds[] = {
      {"FIFO", [&] { return mkfifo(StatePath().c_str(), 0644); },
       "is not a regular file"},
      {"device",
       [&] {
         return mknod(StatePath().c_str(), S_IFCHR | 0644, makedev(1, 5));
       },
       "is not a regular file"},
      {"link", [&] { return symlink("elsewhere", StatePath().c_str()); },
       "is a symbolic link"},
      {"folder", [&] { return mkdir(StatePath().c_str(), 0755); },
       "is not a regular file"},
      {"oversized",
       [&] {
         WriteFile(StatePath(), good);
         return truncate(StatePath().c_str(), CSinceState::kMaxFileBytes + 1);
       },
       "is larger than the 256 MiB a state file may hold"},
  };
  for (const auto& kind : kinds) {
    unlink(StatePath().c_str());
    rmdir(StatePath().c_str());
    if (kind.make() != 0) {
      ADD_FAILURE() << kind.what << ": " << strerror(errno);
      continue;
    }
    CSinceState refused = CSinceState::Load(Folder());
    EXPECT_EQ(0u, refused.size()) << kind.what;
    EXPECT_EQ(StatePath() + " " + kind.said, refused.problem()) << kind.what;
  }
  rmdir(StatePath().c_str());

  // A large state is read whole.
  std::string many = R"({"version":1,"units":{)";
  for (int i = 0; i < 100000; ++i) {
    many += (i ? ",\"" : "\"") + std::to_string(i) +
            R"(/log_man_v1":{"last_index":)" + std::to_string(i) +
            R"(,"log_first":0})";
  }
  WriteFile(StatePath(), many + "}}");
  CSinceState large = CSinceState::Load(Folder());
  EXPECT_EQ("", large.problem());
  EXPECT_EQ(100000u, large.size());
  ASSERT_NE(nullptr, large.Find("99999/log_man_v1"));
  EXPECT_EQ(99999u, large.Find("99999/log_man_v1")->last_index);
}

TEST_F(SinceStateTest, SaveReplacesTheFileWholeAndLeavesNothingBeside) {
  CSinceState state = CSinceState::Load(Folder());
  state.Update({Collected("10.1.2.33/log_man_v1", UnitStatus::kOk,
                          {false, 10, 90}, 10, 90)},
               now_);
  // A link at the state's name is replaced, its target left alone.
  WriteFile(dir_.File("outside"), "not ours");
  ASSERT_EQ(0, symlink(dir_.File("outside").c_str(), StatePath().c_str()));
  state.Save(Folder());
  EXPECT_EQ("not ours", ReadFile(dir_.File("outside")));
  struct stat st;
  ASSERT_EQ(0, lstat(StatePath().c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  folder_.reset();  // the folder's lock goes with it
  EXPECT_EQ(Names({kStateFileName, "outside"}), FolderNames(dir_.path()));
  nlohmann::json text = nlohmann::json::parse(ReadFile(StatePath()));
  EXPECT_EQ(99, text["units"]["10.1.2.33/log_man_v1"]["last_index"]);
}

TEST_F(SinceStateTest, AFailedSaveLeavesTheOldFileAndNoTemporary) {
  CSinceState state = CSinceState::Load(Folder());
  state.Update({Collected("a", UnitStatus::kOk, {false, 10, 5}, 10, 5)}, now_);

  // The name cannot be taken over: a folder is in the way.
  ASSERT_EQ(0, mkdir(StatePath().c_str(), 0755));
  WriteFile(StatePath() + "/inside", "x");
  EXPECT_THROW(state.Save(Folder()), qo::pos::exception_t);
  folder_.reset();
  EXPECT_EQ(Names({kStateFileName}), FolderNames(dir_.path()));
  EXPECT_EQ("x", ReadFile(StatePath() + "/inside"));

  // The disk is full.
  SmallDisk disk(dir_.File("small"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
  const std::string path = dir_.File("small/krtlogs.state");
  const std::string old = R"({"version":1,"units":{}})";
  WriteFile(path, old);
  disk.Fill("filler");
  int os_error = 0;
  try {
    COutputFolder small(dir_.File("small"));
    state.Save(small);
  } catch (const qo::pos::exception_t& e) {
    os_error = e.os_error();
  }
  EXPECT_EQ(ENOSPC, os_error);
  EXPECT_EQ(old, ReadFile(path));
  EXPECT_EQ(Names({"filler", kStateFileName}), FolderNames(dir_.File("small")));
}

}  // namespace
}  // namespace output_test
