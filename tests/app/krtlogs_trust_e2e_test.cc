// Archives to trust, end to end: MANIFEST.json and SHA256SUMS checked
// against what the units served, JSON lines read back by a strict reader,
// the same archive whatever the number of jobs, increments with -since,
// entries a unit dropped before they could be collected, stamped names,
// -keep and -noclobber.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/log_line.h"
#include "tests/app/e2e_fixture.h"
#include "tests/app/e2e_tools.h"
#include "tests/app/posted_entries.h"
#include "tools/sim_content.h"

namespace krtlogs_test {
namespace {

using testing_support::BackgroundProcess;
using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFile;
using Json = nlohmann::json;
using Strings = std::vector<std::string>;

constexpr int kReadyTimeoutMs = 30000;
constexpr char kZipLine[] = "Zipping up log files to ";

// krtlogs in `cwd`, with local time ten hours east of UTC.
ProcessResult RunAt(const Strings& args, const std::string& cwd) {
  Strings argv = {KRTLOGS_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, cwd, {kTenHoursEast});
}

// The seconds a run may have read the clock in.
struct Window {
  std::time_t from;
  std::time_t to;
};

// Whether `name` is prefix + the stamp of a second in `window` + ".zip",
// or the same with "-N" before ".zip"; `tail` gets what follows the stamp.
bool StampedIn(const std::string& name, const std::string& prefix,
               const Window& window, std::string* tail = nullptr) {
  for (std::time_t t = window.from; t <= window.to; ++t) {
    const std::string head = prefix + UtcStamp(t);
    if (name.compare(0, head.size(), head) != 0) continue;
    if (tail != nullptr) *tail = name.substr(head.size());
    return true;
  }
  return false;
}

// The archive named in the run's zip line, or "".
std::string ArchiveOf(const std::string& out) {
  for (const std::string& line : Lines(out)) {
    if (line.rfind(kZipLine, 0) == 0) return line.substr(strlen(kZipLine));
  }
  return std::string();
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  gethostname(name, sizeof(name) - 1);
  return name;
}

std::string Key(const std::string& address) {
  return address + qo::log::kManagerKeySuffix;
}

// The facts entry called `name`; null when there is none.
Json EntryFacts(const Json& facts, const std::string& name) {
  for (const Json& entry : facts["entries"]) {
    if (entry["name"] == name) return entry;
  }
  return nullptr;
}

// Whether `value` is a string holding `part`.
bool Holds(const Json& value, const std::string& part) {
  return value.is_string() &&
         value.get<std::string>().find(part) != std::string::npos;
}

Strings EntryNames(const Json& facts) {
  Strings names;
  for (const Json& entry : facts["entries"]) names.push_back(entry["name"]);
  return names;
}

class TrustE2eTest : public E2eTest {
 protected:
  // A unit at 10.1.2.3 in a krt-sim of its own, so that it can die or come
  // back alone.
  std::unique_ptr<BackgroundProcess> StartLoneUnit(uint32_t entries) {
    auto unit = std::make_unique<BackgroundProcess>(
        Strings{KRT_SIM_BIN, "--address", "10.1.2.3", "--entries",
                std::to_string(entries)},
        logs_.File("lone-unit.out"));
    EXPECT_TRUE(unit->WaitForOutput("krt-sim ready", kReadyTimeoutMs))
        << unit->Output();
    return unit;
  }

  Json State() const {
    return Json::parse(ReadFile(Work(kStateFile)), nullptr, false);
  }

  static constexpr char kStateFile[] = "krtlogs.state";
};

// Five units of 300 entries: 10.1.2.2 empty, 10.1.2.3 sending only its
// newest 7, 10.1.2.4 refusing get_last.
constexpr uint32_t kSeed = 3;
constexpr uint32_t kEntries = 300;
constexpr uint32_t kShortCount = 7;

// The rows archive_facts.py reads from the JSON lines file of the unit at
// `address` holding its newest `newest` entries.
Json ExpectedRows(const std::string& address, uint32_t newest = kEntries) {
  Json rows = Json::array();
  for (uint32_t i = kEntries - newest; i < kEntries; ++i) {
    rows.push_back(ExpectedJsonRow(SimEntry(kSeed, address, i)));
  }
  return rows;
}

// What MANIFEST.json must say of one unit, apart from its reason and
// seconds, which the caller checks.
Json ExpectedUnit(const Json& facts, const std::string& name,
                  const std::string& status, uint32_t served,
                  uint32_t written) {
  const std::string address = "10.1.2." + name;
  const uint32_t first = SimFirstIndex(kSeed, address);
  const std::string file = "KRT" + name + "_log.jsonl";
  const Json entry = EntryFacts(facts, file);
  Json unit = {{"name", name},
               {"address", address},
               {"key", Key(address)},
               {"file", status == "ok" ? Json(file) : Json(nullptr)},
               {"status", status},
               {"range", {{"first", first}, {"end", first + served}}},
               {"since", nullptr},
               {"dropped", 0},
               {"entries", written},
               {"bytes", entry.is_null() ? Json(0) : entry["size"]},
               {"sha256", entry.is_null() ? Json(nullptr) : entry["sha256"]}};
  unit["first_index"] =
      written > 0 ? Json(first + served - written) : Json(nullptr);
  unit["last_index"] = written > 0 ? Json(first + served - 1) : Json(nullptr);
  return unit;
}

// Checks MANIFEST.json of a run of `args` between `window`'s seconds;
// returns it without what differs from run to run (times, the arguments).
Json CheckManifest(const Json& facts, const Strings& args,
                   const Window& window) {
  Json manifest = facts["manifest"];
  EXPECT_EQ("krtlogs", manifest["tool"]);
  EXPECT_EQ(KRTLOGS_VERSION_FOR_TEST, manifest["version"]);
  EXPECT_EQ(HostName(), manifest["host"]);
  // UTC, whatever the local time of the run.
  bool started = false;
  bool finished = false;
  for (std::time_t t = window.from; t <= window.to; ++t) {
    started = started || manifest["started"] == UtcText(t);
    finished = finished || manifest["finished"] == UtcText(t);
  }
  EXPECT_TRUE(started) << manifest["started"];
  EXPECT_TRUE(finished) << manifest["finished"];
  EXPECT_LE(manifest["started"].get<std::string>(),
            manifest["finished"].get<std::string>());
  EXPECT_EQ(Json(args), manifest["arguments"]);
  EXPECT_EQ("jsonl", manifest["format"]);
  EXPECT_EQ(Json({{"ok", 3}, {"empty", 1}, {"failed", 1}}), manifest["counts"]);

  const Json expected[] = {
      ExpectedUnit(facts, "1", "ok", kEntries, kEntries),
      ExpectedUnit(facts, "2", "empty", 0, 0),
      ExpectedUnit(facts, "3", "ok", kEntries, kShortCount),
      ExpectedUnit(facts, "4", "failed", kEntries, 0),
      ExpectedUnit(facts, "5", "ok", kEntries, kEntries)};
  // Only the failed and the incomplete unit have a reason.
  const char* const reasons[] = {nullptr, nullptr, "sent 7 of the 300 entries",
                                 "unit error 0x20000105", nullptr};
  Json& units = manifest["units"];
  EXPECT_EQ(5u, units.size());
  for (size_t i = 0; i < units.size() && i < 5; ++i) {
    Json unit = units[i];
    SCOPED_TRACE("unit " + unit.value("name", std::string("?")));
    if (reasons[i] == nullptr) {
      EXPECT_TRUE(unit["reason"].is_null()) << unit["reason"];
    } else {
      EXPECT_TRUE(Holds(unit["reason"], reasons[i])) << unit["reason"];
    }
    EXPECT_TRUE(unit["seconds"].is_number()) << unit["seconds"];
    EXPECT_GE(unit["seconds"].get<double>(), 0.0);
    unit.erase("reason");
    unit.erase("seconds");
    EXPECT_EQ(expected[i], unit);
    units[i].erase("seconds");
  }
  manifest.erase("started");
  manifest.erase("finished");
  manifest.erase("arguments");
  return manifest;
}

TEST_F(TrustE2eTest, ManifestAndChecksumsAgreeWithTheUnitsForAnyJobs) {
  StartUnits({"--units", "5", "--entries", "300", "--seed", "3", "--fault",
              "10.1.2.2:empty", "--fault", "10.1.2.3:short:7", "--fault",
              "10.1.2.4:get-last-error:0x20000105"});
  const Strings expected_out = {"Searching for 5 KRTs",
                                "done",
                                "Searching for 5 KRTs ",
                                "Searching for Velto Keys",
                                "Found an KRT at 10.1.2.1",
                                "Found an KRT at 10.1.2.2",
                                "Found an KRT at 10.1.2.3",
                                "Found an KRT at 10.1.2.4",
                                "Found an KRT at 10.1.2.5",
                                "Getting logs from KRT1",
                                "No Log entries found on KRT 2",
                                "Getting logs from KRT3",
                                "Getting logs from KRT4",
                                "Failed to get logs from KRT4",
                                "Getting logs from KRT5",
                                "Zipping up log files to KRTLogs.zip",
                                "done"};
  Json first_facts;
  Json first_manifest;
  for (const char* jobs : {"1", "4", "16"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    TempDir dir;
    const Strings args = {"-n",    "5",  "-manifest", "-format",
                          "jsonl", "-j", jobs};
    Window window;
    window.from = std::time(nullptr);
    ProcessResult r = RunAt(args, dir.path());
    window.to = std::time(nullptr);
    EXPECT_EQ(expected_out, Lines(r.out)) << r.err;
    EXPECT_EQ(1, r.status) << r.err;
    ASSERT_EQ(Strings({"KRTLogs.zip"}), Files(dir.path()));

    std::string error;
    Json facts = ReadArchiveFacts(dir.File("KRTLogs.zip"), error);
    ASSERT_FALSE(facts.is_null()) << error;
    EXPECT_EQ(Strings({"KRT1_log.jsonl", "KRT3_log.jsonl", "KRT5_log.jsonl",
                       "MANIFEST.json", "SHA256SUMS"}),
              EntryNames(facts));
    EXPECT_EQ(ExpectedRows("10.1.2.1"), facts["lines"]["KRT1_log.jsonl"]);
    EXPECT_EQ(ExpectedRows("10.1.2.3", kShortCount),
              facts["lines"]["KRT3_log.jsonl"]);
    EXPECT_EQ(ExpectedRows("10.1.2.5"), facts["lines"]["KRT5_log.jsonl"]);

    // What a technician does with the archive.
    ProcessResult unzip =
        RunProcess({"unzip", "-q", "KRTLogs.zip", "-d", "x"}, dir.path());
    ASSERT_EQ(0, unzip.status) << unzip.out << unzip.err;
    ProcessResult sums =
        RunProcess({"sha256sum", "-c", "SHA256SUMS"}, dir.File("x"));
    EXPECT_EQ(0, sums.status) << sums.err;
    EXPECT_EQ("KRT1_log.jsonl: OK\nKRT3_log.jsonl: OK\nKRT5_log.jsonl: OK\n",
              sums.out);

    const Json manifest = CheckManifest(facts, args, window);
    // Apart from times and arguments, the same archive for every -j.
    facts.erase("manifest");
    Json& entries = facts["entries"];
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i]["name"] == "MANIFEST.json") entries.erase(i);
    }
    if (first_facts.is_null()) {
      first_facts = facts;
      first_manifest = manifest;
    } else {
      EXPECT_EQ(first_facts, facts);
      EXPECT_EQ(first_manifest, manifest);
    }
  }
}

TEST_F(TrustE2eTest, IncrementsHoldOnlyWhatIsNew) {
  StartUnits({"--units", "2", "--entries", "40"});
  std::unique_ptr<BackgroundProcess> lone = StartLoneUnit(30);
  const uint32_t first1 = SimFirstIndex(1, "10.1.2.1");
  const uint32_t first3 = SimFirstIndex(1, "10.1.2.3");

  // The first increment holds every log; the state records where each
  // ended.
  Window window{std::time(nullptr), 0};
  ProcessResult r = RunAt({"-n", "3", "-since"}, work_.path());
  window.to = std::time(nullptr);
  EXPECT_EQ(0, r.status) << r.err;
  const std::string first = ArchiveOf(r.out);
  std::string tail;
  EXPECT_TRUE(StampedIn(first, "KRTLogs_", window, &tail)) << first;
  EXPECT_EQ(".zip", tail);
  ExpectArchive(Work(first), {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 40)},
                              {"KRT2_log.txt", ExpectedLog("10.1.2.2", 40)},
                              {"KRT3_log.txt", ExpectedLog("10.1.2.3", 30)}});
  const std::string first_bytes = ReadFile(Work(first));
  const Json state1 = State();
  ASSERT_TRUE(state1.is_object()) << ReadFile(Work(kStateFile));
  EXPECT_EQ(first1 + 39, state1["units"][Key("10.1.2.1")]["last_index"]);
  EXPECT_EQ(first1, state1["units"][Key("10.1.2.1")]["log_first"]);
  EXPECT_EQ(first3 + 29, state1["units"][Key("10.1.2.3")]["last_index"]);

  // New entries on units 1 and 3; then unit 3 dies with them (its key stays
  // published).
  ProcessResult posted = PostEntries("10.1.2.1", 0, kPostedTextCount);
  ASSERT_EQ(0, posted.status) << posted.err;
  posted = PostEntries("10.1.2.3", 0, 5);
  ASSERT_EQ(0, posted.status) << posted.err;
  lone->Stop(SIGKILL);

  // The second increment: only unit 1's new entries, in JSON lines.
  window = {std::time(nullptr), 0};
  r = RunAt({"-n", "3", "-since", "-format", "jsonl", "-manifest"},
            work_.path());
  window.to = std::time(nullptr);
  EXPECT_EQ(1, r.status) << r.err;
  Strings lines = Lines(r.out);
  ASSERT_EQ(12u, lines.size()) << r.out << r.err;
  EXPECT_EQ(Strings({"Getting logs from KRT1", "No Log entries found on KRT 2",
                     "Failed to get logs from KRT3"}),
            Strings(lines.begin() + 7, lines.begin() + 10));
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: KRT3 (10.1.2.3): range: cannot connect"))
      << r.err;
  const std::string second = ArchiveOf(r.out);
  EXPECT_TRUE(StampedIn(second, "KRTLogs_", window, &tail)) << second;
  EXPECT_TRUE(tail == ".zip" || tail == "-2.zip") << second;
  Strings kept = {first, second, kStateFile};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, Files(work_.path()));
  EXPECT_EQ(first_bytes, ReadFile(Work(first)));

  std::string error;
  Json facts = ReadArchiveFacts(Work(second), error);
  ASSERT_FALSE(facts.is_null()) << error;
  EXPECT_EQ(Strings({"KRT1_log.jsonl", "MANIFEST.json", "SHA256SUMS"}),
            EntryNames(facts));
  Json rows = Json::array();
  for (uint32_t k = 0; k < kPostedTextCount; ++k) {
    qo::log::log_entry_t entry = PostedEntry(k);
    entry.index = first1 + 40 + k;
    rows.push_back(
        ExpectedJsonRow(entry, PostedWhoAsRead(k), PostedWhatAsRead(k)));
  }
  EXPECT_EQ(rows, facts["lines"]["KRT1_log.jsonl"]);
  const Json& units = facts["manifest"]["units"];
  ASSERT_EQ(3u, units.size()) << facts["manifest"];
  EXPECT_EQ(first1 + 40, units[0]["since"]);
  EXPECT_EQ(kPostedTextCount, units[0]["entries"]);
  EXPECT_EQ("empty", units[1]["status"]);
  EXPECT_EQ("failed", units[2]["status"]);
  EXPECT_TRUE(Holds(units[2]["reason"], "cannot connect")) << units[2];

  // Unit 1 moved on; unit 2 had nothing new and unit 3 failed: their
  // records stay as they were.
  const Json state2 = State();
  EXPECT_EQ(first1 + 40 + kPostedTextCount - 1,
            state2["units"][Key("10.1.2.1")]["last_index"]);
  EXPECT_EQ(state1["units"][Key("10.1.2.2")], state2["units"][Key("10.1.2.2")]);
  EXPECT_EQ(state1["units"][Key("10.1.2.3")], state2["units"][Key("10.1.2.3")]);

  // A clear does not know the state.
  const std::string state_text = ReadFile(Work(kStateFile));
  r = RunAt({"-s", "10.1.2.1", "-clear"}, work_.path());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(state_text, ReadFile(Work(kStateFile)));

  // Unit 1 logs afresh after its clear; unit 3 comes back reset, with a
  // shorter log than the state remembers. Both give everything they hold.
  posted = PostEntries("10.1.2.1", 20, 4);
  ASSERT_EQ(0, posted.status) << posted.err;
  lone = StartLoneUnit(10);
  r = RunAt({"-n", "3", "-since"}, work_.path());
  EXPECT_EQ(0, r.status) << r.err;
  lines = Lines(r.out);
  ASSERT_EQ(12u, lines.size()) << r.out << r.err;
  EXPECT_EQ(Strings({"Getting logs from KRT1", "No Log entries found on KRT 2",
                     "Getting logs from KRT3"}),
            Strings(lines.begin() + 7, lines.begin() + 10));
  std::string after_clear;
  for (uint32_t k = 20; k < 24; ++k) {
    qo::log::log_entry_t entry = PostedEntry(k);
    entry.index = first1 + 40 + kPostedTextCount + (k - 20);
    AppendLogLine(entry, after_clear);
  }
  ExpectArchive(Work(ArchiveOf(r.out)),
                {{"KRT1_log.txt", after_clear},
                 {"KRT3_log.txt", ExpectedLog("10.1.2.3", 10)}});
  EXPECT_EQ(4u, Files(work_.path()).size());

  // Without -since the state is neither read nor written: whole logs, in
  // the unstamped archive.
  const std::string state_text4 = ReadFile(Work(kStateFile));
  r = RunAt({"-n", "3"}, work_.path());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find(kStateFile)) << r.err;
  EXPECT_EQ(state_text4, ReadFile(Work(kStateFile)));
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", after_clear},
                 {"KRT2_log.txt", ExpectedLog("10.1.2.2", 40)},
                 {"KRT3_log.txt", ExpectedLog("10.1.2.3", 10)}});
  EXPECT_EQ(0, lone->Stop(SIGTERM)) << lone->Output();
}

TEST_F(TrustE2eTest, StampedNamesNeverReplaceAnArchive) {
  StartUnits({"--units", "1", "--entries", "5"});
  // Every stamped name the next two minutes could give is taken, and its
  // "-2" too.
  const std::time_t now = std::time(nullptr);
  const Window taken{now - 2, now + 120};
  Strings older;
  for (std::time_t t = taken.from; t <= taken.to; ++t) {
    for (const char* tail : {".zip", "-2.zip"}) {
      older.push_back("KRTLogs_" + UtcStamp(t) + tail);
      WriteFile(Work(older.back()), "older " + older.back());
    }
  }
  Window window{std::time(nullptr), 0};
  ProcessResult r = RunAt({"-n", "1", "-stamp"}, work_.path());
  window.to = std::time(nullptr);
  EXPECT_EQ(0, r.status) << r.err;
  const std::string third = ArchiveOf(r.out);
  std::string tail;
  EXPECT_TRUE(StampedIn(third, "KRTLogs_", window, &tail)) << third;
  EXPECT_EQ("-3.zip", tail);
  ExpectArchive(Work(third), {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 5)}});

  // With -noclobber a stamped run still finds a free name.
  r = RunAt({"-n", "1", "-stamp", "-noclobber"}, work_.path());
  EXPECT_EQ(0, r.status) << r.err;
  const std::string fourth = ArchiveOf(r.out);
  EXPECT_NE(third, fourth);
  EXPECT_EQ(older.size() + 2, Files(work_.path()).size());
  for (const std::string& name : older) {
    EXPECT_EQ("older " + name, ReadFile(Work(name)));
  }

  // A single unit's archive carries its address before the stamp.
  TempDir single;
  window = {std::time(nullptr), 0};
  r = RunAt({"-s", "10.1.2.1", "-stamp"}, single.path());
  window.to = std::time(nullptr);
  EXPECT_EQ(0, r.status) << r.err;
  const std::string name = ArchiveOf(r.out);
  EXPECT_TRUE(StampedIn(name, "KRTLog_10.1.2.1_", window, &tail)) << name;
  EXPECT_EQ(".zip", tail);
  EXPECT_EQ(Strings({name}), Files(single.path()));

  // -noclobber lets a run through when nothing is in the way.
  TempDir fresh;
  r = RunAt({"-n", "1", "-noclobber"}, fresh.path());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(fresh.path()));
}

// The fixture's folder listing, for tests that run without servers.
struct Folder : E2eTest {
  using E2eTest::Files;
};

// No repository runs here: a run that contacted anything would have
// printed its search lines on standard output.
TEST(KrtlogsNoclobberTest, AnExistingArchiveStopsTheRunBeforeAnything) {
  struct Case {
    Strings args;
    std::string existing;  // in the folder the run starts in
  };
  const Case cases[] = {
      {{"-noclobber"}, "KRTLogs.zip"},
      {{"-n", "2", "-noclobber", "-manifest", "-format", "jsonl"},
       "KRTLogs.zip"},
      {{"-s", "10.1.2.7", "-noclobber"}, "KRTLog_10.1.2.7.zip"},
      {{"-noclobber", "-o", "out", "-n", "3"}, "out/KRTLogs.zip"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.existing.find('/') != std::string::npos) {
      ASSERT_EQ(0, mkdir(dir.File("out").c_str(), 0755));
    }
    WriteFile(dir.File(c.existing), "keep me");
    const Strings before = Folder::Files(dir.path());
    ProcessResult r = RunAt(c.args, dir.path());
    SCOPED_TRACE(c.existing);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(1u, Lines(r.err).size()) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.existing)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("-noclobber")) << r.err;
    EXPECT_EQ("keep me", ReadFile(dir.File(c.existing)));
    EXPECT_EQ(before, Folder::Files(dir.path()));
  }
}

// A unit logging far faster than it is collected, into a log of 20
// entries: every later increment finds its log moved past the state and
// says how many entries are lost, and -keep 2 leaves the two newest
// archives, removing nothing but stamped archives.
TEST_F(TrustE2eTest, DroppedEntriesAreToldAndOnlyTheNewestArchivesStay) {
  StartUnits({"--units", "1", "--entries", "20", "--grow", "10.1.2.1:1000",
              "--cap", "10.1.2.1:20"});
  // An earlier release's local-time name: older than every UTC one, so
  // the first to go, whatever its digits say.
  WriteFile(Work("KRTLogs_20991231-235959.zip"), "local time");
  Strings kept = {"KRTLogs_20261301-000000.zip",  // month 13
                  "KRTLogs_20000101-000000-02.zip",
                  "KRTLogs_20000101-000000.zip.~1~", "older.zip"};
  for (const std::string& name : kept) WriteFile(Work(name), name);
  // The oldest stamped name of all, but a link.
  const std::string link = "KRTLogs_19990101-000000.zip";
  ASSERT_EQ(0, symlink("older.zip", Work(link).c_str()));
  Strings archives;
  std::string err;
  uint32_t last = 0;
  uint64_t dropped_total = 0;
  // The metrics as Prometheus' own parser (Debian's python3-prometheus-client,
  // hence Debian's python3) reads them, a sample a line.
  const char* parse =
      "import sys\n"
      "from prometheus_client.parser import text_string_to_metric_families\n"
      "for f in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
      "  for s in f.samples:\n"
      "    print(s.name, ','.join(k + '=' + v for k, v in "
      "sorted(s.labels.items())), int(s.value))\n";
  for (int run = 0; run < 3; ++run) {
    // Until the unit has moved past what the last run collected (bounded).
    for (int tries = 0; run > 0 && tries < 100; ++tries) {
      const Strings listed = Lines(RunAt({"-s", "10.1.2.1", "-list"}, "/").out);
      const std::string row = listed.empty() ? "" : listed.back();
      const size_t at = row.find("\t10.1.2.1\t");
      if (at != std::string::npos &&
          std::stoul(row.substr(at + 10)) > uint64_t{last} + 1) {
        break;
      }
    }
    ProcessResult r = RunAt({"-n", "1", "-since", "-keep", "2", "-manifest",
                             "-metrics", "krtlogs.prom"},
                            work_.path());
    ASSERT_EQ(0, r.status) << r.err;
    err = r.err;
    archives.push_back(ArchiveOf(r.out));
    std::string error;
    const Json facts = ReadArchiveFacts(Work(archives.back()), error);
    ASSERT_FALSE(facts.is_null()) << error;
    const Json& unit = facts["manifest"]["units"][0];
    EXPECT_EQ(20u, unit["entries"]) << unit;
    // The first increment knows nothing before it; each later one lost
    // every entry between the last one collected and its file's first.
    const uint64_t dropped =
        run == 0 ? 0 : unit["first_index"].get<uint64_t>() - last - 1;
    EXPECT_EQ(dropped, unit["dropped"]) << unit;
    const std::string told =
        "krtlogs: KRT1 (10.1.2.1): " + std::to_string(dropped) +
        " entries were dropped by the unit before they "
        "could be collected; collect more often\n";
    EXPECT_EQ(run > 0, r.err.find(told) != std::string::npos) << r.err;
    const std::string summed =
        ", " + std::to_string(dropped) + " entries dropped by the units;";
    EXPECT_EQ(run > 0, r.err.find(summed) != std::string::npos) << r.err;
    last = State()["units"][Key("10.1.2.1")]["last_index"].get<uint32_t>();
    EXPECT_EQ(unit["last_index"], last);
    dropped_total += dropped;
    ProcessResult metrics =
        RunProcess({"/usr/bin/python3", "-c", parse, Work("krtlogs.prom")});
    ASSERT_EQ(0, metrics.status) << metrics.err;
    const Strings samples = Lines(metrics.out);
    for (const std::string& sample : Strings{
             "krtlogs_run_units outcome=collected 1", "krtlogs_run_entries  20",
             "krtlogs_run_exit_status  0",
             "krtlogs_runs_total  " + std::to_string(run + 1),
             "krtlogs_run_entries_dropped  " + std::to_string(dropped),
             "krtlogs_entries_dropped_total  " + std::to_string(dropped_total),
             "krtlogs_unit_entries_dropped address=10.1.2.1,unit=KRT1 " +
                 std::to_string(dropped)}) {
      EXPECT_NE(samples.end(),
                std::find(samples.begin(), samples.end(), sample))
          << sample << "\n"
          << metrics.out;
    }
  }
  EXPECT_NE(std::string::npos, err.find("krtlogs: removed " + archives[0]))
      << err;
  kept.insert(kept.end(),
              {archives[1], archives[2], link, kStateFile, "krtlogs.prom"});
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, Files(work_.path()));
  EXPECT_EQ("older.zip", ReadFile(Work(link)));
}

}  // namespace
}  // namespace krtlogs_test
