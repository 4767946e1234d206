// Units retrieved at the same time: the lines of standard output and the
// files are those of a run that takes the units one after another.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/fetch/ordered_output.h"
#include "app/fetch/unit_runner.h"
#include "app/folder.h"
#include "app/krt_log_extractor.h"
#include "app/log_line.h"
#include "gtest/gtest.h"
#include "tests/app/extractor_fakes.h"
#include "tests/support/archive_check.h"
#include "tests/support/temp_dir.h"
#include "zip/zip_entry_deflater.h"

namespace krtlogs_test {
namespace {

using Lines = std::vector<std::string>;

// A listener whose lines also record which stream they went to, so that
// the order of lines and reasons together can be checked.
class MergedListener : public CKRTLogExtractor::CListener {
 public:
  explicit MergedListener(std::ostringstream& reasons) : reasons_(reasons) {}
  void OnMessage(const std::string& message) override {
    Drain();
    lines.push_back(message);
  }
  // Moves the reasons printed so far into `lines`, marked.
  void Drain() {
    std::istringstream in(reasons_.str());
    for (std::string line; std::getline(in, line);) lines.push_back("!" + line);
    reasons_.str("");
  }
  Lines lines;

 private:
  std::ostringstream& reasons_;
};

TEST(OrderedOutputTest, LaterUnitsWaitForEarlierOnes) {
  std::ostringstream reasons;
  MergedListener listener(reasons);
  COrderedOutput out(&listener, reasons, 4);
  out.Line(2, "c1");
  out.Reason(2, "c-why");
  out.Finish(2);
  out.Line(0, "a1");  // the head prints at once
  EXPECT_EQ(Lines({"a1"}), listener.lines);
  out.Line(1, "b1");
  out.Line(3, "d1");
  out.Line(0, "a2");
  out.Finish(0);  // hands the head to 1: its line comes out, 2 still waits
  listener.Drain();
  EXPECT_EQ(Lines({"a1", "a2", "b1"}), listener.lines);
  out.Line(1, "b2");
  out.Finish(1);  // 2 is done already, so 3 becomes the head
  out.Line(3, "d2");
  out.Finish(3);
  listener.Drain();
  EXPECT_EQ(Lines({"a1", "a2", "b1", "b2", "c1", "!c-why", "d1", "d2"}),
            listener.lines);
}

TEST(UnitRunnerTest, EveryUnitOnceAndOneJobRunsInOrderOnTheCaller) {
  for (int jobs : {1, 2, 7, 64}) {
    for (size_t units : {0u, 1u, 5u, 40u}) {
      std::mutex mutex;
      std::multiset<size_t> seen;
      std::vector<size_t> order;
      std::set<std::thread::id> threads;
      RunForEachUnit(units, jobs, [&](size_t unit) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.insert(unit);
        order.push_back(unit);
        threads.insert(std::this_thread::get_id());
      });
      ASSERT_EQ(units, seen.size()) << jobs << " jobs";
      for (size_t u = 0; u < units; ++u) EXPECT_EQ(1u, seen.count(u));
      if (jobs == 1 && units > 0) {
        std::vector<size_t> expected(units);
        for (size_t u = 0; u < units; ++u) expected[u] = u;
        EXPECT_EQ(expected, order);
        EXPECT_EQ(std::set<std::thread::id>{std::this_thread::get_id()},
                  threads);
      }
    }
  }
}

// Log managers whose get_last replies finish in reverse list order: unit i
// answers only once every later unit is done with its get_last (or needs
// none), so that with every unit in flight at once the last one finishes
// first. With `reverse` false they answer at once.
class ReverseFleet {
 public:
  ReverseFleet(size_t units, bool reverse) : answered_(units + 1, !reverse) {
    answered_[units] = true;
  }
  // A unit that makes no get_last call.
  void Skip(size_t index) { answered_[index] = true; }

  class Manager : public FakeManager {
   public:
    Manager(ReverseFleet* fleet, size_t index, FakeUnit* unit,
            std::atomic<int>* live)
        : FakeManager(unit, live), fleet_(fleet), index_(index) {}
    void get_last(uint32_t count, qo::log::log_entry_list_t& out) override {
      {
        std::unique_lock<std::mutex> lock(fleet_->mutex_);
        fleet_->cv_.wait(lock, [&] {
          for (size_t i = index_ + 1; i < fleet_->answered_.size(); ++i) {
            if (!fleet_->answered_[i]) return false;
          }
          return true;
        });
      }
      struct Answered {
        ReverseFleet* fleet;
        size_t index;
        ~Answered() {
          std::lock_guard<std::mutex> lock(fleet->mutex_);
          fleet->answered_[index] = true;
          fleet->cv_.notify_all();
        }
      } answered{fleet_, index_};
      FakeManager::get_last(count, out);
    }

   private:
    ReverseFleet* fleet_;
    size_t index_;
  };

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<bool> answered_;
};

TEST_F(ExtractorTest, ManyJobsGiveTheLinesAndFilesOfOne) {
  const std::vector<std::string> addresses = {"10.1.2.1", "10.1.2.2",
                                              "10.1.2.3", "10.1.2.4"};
  for (size_t i = 0; i < addresses.size(); ++i) {
    FakeUnit& unit = AddUnit(addresses[i], 0, i == 2 ? 0 : 2);
    unit.entries = {Entry(1, 1, "who", "first " + addresses[i]),
                    Entry(2, 3, "who", "second " + addresses[i])};
    unit.fail_get_last = i == 1;
  }
  Discover(4);
  Lines sequential_lines;
  std::string sequential_files;
  for (int jobs : {1, 4}) {
    // Every unit's manager made on a thread of its own must be safe.
    ReverseFleet fleet(addresses.size(), jobs > 1);
    fleet.Skip(2);
    std::vector<FakeUnit> units(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
      units[i] = fleet_.Unit("IOR:" + addresses[i]);
      if (i == 2) units[i].last = 0;
    }
    std::mutex live_mutex;
    std::atomic<int> live{0};
    std::ostringstream reasons;
    MergedListener listener(reasons);
    CKRTLogExtractor extractor(
        &listener, &repository_,
        [&](const std::string& ior) {
          size_t i = 0;
          while ("IOR:" + addresses[i] != ior) ++i;
          std::lock_guard<std::mutex> lock(live_mutex);
          return std::unique_ptr<qo::log::manager_if_t>(
              new ReverseFleet::Manager(&fleet, i, &units[i], &live));
        },
        0, reasons);
    RunOptions options;
    options.jobs = jobs;
    CKRTLogExtractor::SFetchSettings settings;
    settings.options = &options;
    extractor.Configure(settings);
    ASSERT_TRUE(extractor.FindKRTs(4));
    listener.lines.clear();
    EXPECT_FALSE(extractor.GetLogs());
    listener.Drain();
    std::string files;
    for (const std::string& address : addresses) {
      const std::string name =
          "KRT" + address.substr(address.rfind('.') + 1) + "_log.txt";
      files +=
          name + ":" +
          (testing_support::FileExists(name) ? testing_support::ReadFile(name)
                                             : std::string("none")) +
          "\n";
      unlink(name.c_str());
    }
    if (jobs == 1) {
      sequential_lines = listener.lines;
      sequential_files = files;
      EXPECT_EQ(
          Lines({"Getting logs from KRT1", "Getting logs from KRT2",
                 "Failed to get logs from KRT2",
                 "!krtlogs: KRT2 (10.1.2.2): get_last: lost the unit",
                 "No Log entries found on KRT 3", "Getting logs from KRT4"}),
          listener.lines);
    } else {
      EXPECT_EQ(sequential_lines, listener.lines);
      EXPECT_EQ(sequential_files, files);
    }
    EXPECT_EQ(UnitStatus::kOk, extractor.outcomes()[3].status);
    EXPECT_EQ(2u, extractor.outcomes()[3].written.entries);
  }
}

// Entries whose text is exactly `bytes` long (none for 0), in words that
// compress like log text does.
qo::log::log_entry_list_t EntriesOfText(size_t bytes, uint32_t seed) {
  static const char* const kWords[] = {"disk", "low",   "space", "fan",
                                       "slow", "retry", "link",  "up"};
  qo::log::log_entry_list_t entries;
  size_t total = 0;
  for (uint32_t i = 0; total < bytes; ++i) {
    qo::log::log_entry_t e = Entry(i, static_cast<int32_t>(i % 5), "diskd", "");
    std::string line;
    AppendLogLine(e, line);
    std::string what;
    for (uint32_t w = seed + i; what.size() < 200 + (w * 7919) % 300; w *= 3) {
      what += std::string(kWords[w % 8]) + " " + std::to_string(w % 1000) + " ";
    }
    // The last entry takes what is left; so may one just before it, so
    // that the last is never shorter than an entry without text.
    if (bytes - total < line.size() + 2 * what.size()) {
      what.assign(bytes - total - line.size(), 'x');
    }
    e.s_what = what;
    total += line.size() + what.size();
    entries.push_back(e);
  }
  return entries;
}

// The archive with the entries' times (local and central) zeroed, so that
// archives of different runs compare byte for byte.
std::string WithoutTimes(std::string zip) {
  auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(zip[at])) |
           static_cast<size_t>(static_cast<unsigned char>(zip[at + 1])) << 8;
  };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  const size_t end = zip.size() - 22;
  size_t at = u32(end + 16);
  for (size_t n = u16(end + 10); n > 0; --n) {
    zip.replace(at + 12, 4, 4, '\0');
    zip.replace(u32(at + 42) + 10, 4, 4, '\0');
    at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
  }
  return zip;
}

// Entries compressed whole and in blocks, at the limit between the two and
// on either side of it, an empty file, and a unit that fails part-way
// through a blocked entry: the archive holds exactly the texts of the units
// that gave a file, and its bytes do not depend on the number of jobs.
TEST_F(ExtractorTest, TheArchiveIsTheSameForAnyJobsAtEverySize) {
  const size_t limit = CZipEntryDeflater::kWholeLimit;
  const struct {
    const char* address;
    size_t bytes;
    bool fails;
  } cases[] = {
      {"10.1.2.1", limit - 1, false},         {"10.1.2.2", limit, false},
      {"10.1.2.3", limit + 1, false},         {"10.1.2.4", 0, false},
      {"10.1.2.5", 3 * limit + 12345, false}, {"10.1.2.6", 2 * limit, true},
  };
  std::vector<testing_support::ExpectedEntry> expected;
  for (const auto& c : cases) {
    const std::string name(std::strrchr(c.address, '.') + 1);
    FakeUnit& unit = AddUnit(c.address, 0, 1);
    unit.entries = EntriesOfText(c.bytes, static_cast<uint32_t>(c.bytes));
    unit.last = std::max<uint32_t>(1, unit.entries.size());
    if (c.fails) {
      unit.fail_after = unit.entries.size() * 3 / 4;
      continue;
    }
    std::string text;
    for (const auto& e : unit.entries) AppendLogLine(e, text);
    ASSERT_EQ(c.bytes, text.size());
    expected.push_back({"KRT" + name + "_log.txt", text});
  }
  Discover(6);
  std::string first;
  for (int jobs : {1, 4, 16}) {
    SCOPED_TRACE(jobs);
    testing_support::TempDir dir;
    COutputFolder folder(dir.path());
    RunOptions options;
    options.jobs = jobs;
    CKRTLogExtractor::SFetchSettings settings;
    settings.options = &options;
    settings.folder = &folder;
    CKRTLogExtractor extractor(&listener_, &repository_, fleet_.Factory(), 0,
                               diagnostics_);
    extractor.Configure(settings);
    ASSERT_TRUE(extractor.FindKRTs(6));
    EXPECT_FALSE(extractor.GetLogs());  // the empty one fell short, 6 failed
    EXPECT_TRUE(extractor.ZipLogs("KRTLogs.zip")) << diagnostics_.str();
    const std::string archive = dir.File("KRTLogs.zip");
    auto check = testing_support::CheckArchive(archive, &expected);
    EXPECT_TRUE(check.ok()) << check.Report();
    const std::string bytes = WithoutTimes(testing_support::ReadFile(archive));
    if (first.empty()) first = bytes;
    EXPECT_TRUE(bytes == first) << "archive bytes differ";
  }
}

}  // namespace
}  // namespace krtlogs_test
