// SHA-256, SHA256SUMS as sha256sum checks it, and MANIFEST.json read back.
#include "app/output/manifest.h"

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/output/sha256.h"
#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "tests/app/output_test_util.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace output_test {
namespace {

using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Sha256Test, KnownVectorsInPiecesOfEverySize) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
       "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(v.second, Sha256Hex(v.first));
    // Pieces of 1, 2, 3, ... bytes: no piece boundary may matter.
    CSha256 sha;
    size_t at = 0;
    for (size_t piece = 1; at < v.first.size(); ++piece) {
      size_t n = std::min(piece % 131 + 1, v.first.size() - at);
      sha.Update(v.first.data() + at, n);
      at += n;
    }
    EXPECT_EQ(v.second, sha.Finish());
    EXPECT_THROW(sha.Update("x", 1), qo::exception_t);
  }
}

UnitOutcome OkUnit(const std::string& name, const std::string& file,
                   const std::string& bytes) {
  UnitOutcome unit;
  unit.name = name;
  unit.address = "10.1.2." + name;
  unit.key = unit.address + "/log_man_v1";
  unit.status = UnitStatus::kOk;
  unit.ranged = true;
  unit.range_first = 0;
  unit.range_end = 3;
  unit.asked = {false, 0, 3};
  unit.file = file;
  unit.written.entries = 3;
  unit.written.first = 0;
  unit.written.last = 2;
  unit.written.bytes = bytes.size();
  unit.written.sha256 = Sha256Hex(bytes);
  unit.seconds = 0.25;
  return unit;
}

TEST(Sha256SumsTest, AcceptedBySha256sumAndRefusedWhenAFileChanges) {
  TempDir dir;
  const std::pair<std::string, std::string> files[] = {
      {"KRT1_log.txt", "03/07/2007 14:05:09\t 1\t note\ta\tb\n"},
      {"KRT2_log.jsonl", "{\"index\":1}\n"},
      {"KRT\\odd_log.txt", "a name sha256sum has to escape\n"},
  };
  std::vector<UnitOutcome> units;
  for (size_t i = 0; i < 3; ++i) {
    WriteFile(dir.File(files[i].first), files[i].second);
    units.push_back(
        OkUnit(std::to_string(i + 1), files[i].first, files[i].second));
  }
  // Units without a file in the archive have no line.
  UnitOutcome empty;
  empty.status = UnitStatus::kEmpty;
  UnitOutcome failed;
  failed.status = UnitStatus::kFailed;
  failed.file = "KRT9_log.txt";
  units.insert(units.begin() + 1, empty);
  units.push_back(failed);

  std::string sums = Sha256Sums(units);
  WriteFile(dir.File(kSha256SumsName), sums);
  auto ok =
      RunProcess({"sha256sum", "--strict", "-c", kSha256SumsName}, dir.path());
  EXPECT_EQ(0, ok.status) << ok.out << ok.err;
  EXPECT_EQ("KRT1_log.txt: OK\nKRT2_log.jsonl: OK\nKRT\\odd_log.txt: OK\n",
            ok.out);

  WriteFile(dir.File("KRT2_log.jsonl"), "{\"index\":2}\n");
  auto changed = RunProcess({"sha256sum", "-c", kSha256SumsName}, dir.path());
  EXPECT_EQ(1, changed.status) << changed.out;

  // A file without its digest cannot be vouched for.
  units[0].written.sha256.clear();
  EXPECT_THROW(Sha256Sums(units), qo::exception_t);
}

TEST(ManifestTest, ReadsBackWithEveryUnitAsRecorded) {
  using std::chrono::system_clock;
  RunRecord run;
  run.version = "1.0.0";
  run.host = "site-host";
  run.started = system_clock::from_time_t(1796768100);  // 2026-12-08 22:15
  run.finished = run.started + std::chrono::seconds(75);
  run.arguments = {"-n", "3", "-manifest", "-o", "dir\xff"};
  run.format = LogFormat::kJsonl;

  std::vector<UnitOutcome> units;
  units.push_back(OkUnit("1", "KRT1_log.jsonl", "three lines\n"));
  UnitOutcome since = OkUnit("2", "KRT2_log.jsonl", "new ones\n");
  since.asked = {true, 100, 5};
  since.range_first = 0;
  since.range_end = 105;
  since.written.first = 100;
  since.written.last = 104;
  since.written.entries = 5;
  since.seconds = 1.23456;
  units.push_back(since);
  UnitOutcome empty;
  empty.name = "3";
  empty.address = "10.1.2.3";
  empty.key = "10.1.2.3/log_man_v1";
  empty.status = UnitStatus::kEmpty;
  empty.ranged = true;
  empty.range_first = empty.range_end = 7;
  empty.asked.dropped = 4;  // its log moved on past what -since had
  units.push_back(empty);
  UnitOutcome failed;
  failed.name = "4";
  failed.address = "10.1.2.4";
  failed.key = "10.1.2.4\xc0/log_man_v1";  // not UTF-8: written as U+00C0
  failed.status = UnitStatus::kFailed;
  failed.reason = "get_last: no answer within 60 s";
  failed.file = "KRT4_log.jsonl";  // never made it into the archive
  units.push_back(failed);

  // Members in order, every value as recorded; the digests are filled in.
  nlohmann::ordered_json expected = nlohmann::ordered_json::parse(R"({
    "tool": "krtlogs", "version": "1.0.0", "host": "site-host",
    "started": "2026-12-08T22:15:00Z", "finished": "2026-12-08T22:16:15Z",
    "arguments": ["-n", "3", "-manifest", "-o", "dir\u00ff"],
    "format": "jsonl",
    "counts": {"ok": 2, "empty": 1, "failed": 1},
    "units": [
      {"name": "1", "address": "10.1.2.1", "key": "10.1.2.1/log_man_v1",
       "file": "KRT1_log.jsonl", "status": "ok", "reason": null,
       "range": {"first": 0, "end": 3}, "since": null, "dropped": 0,
       "first_index": 0, "last_index": 2, "entries": 3, "bytes": 12,
       "sha256": "", "seconds": 0.25},
      {"name": "2", "address": "10.1.2.2", "key": "10.1.2.2/log_man_v1",
       "file": "KRT2_log.jsonl", "status": "ok", "reason": null,
       "range": {"first": 0, "end": 105}, "since": 100, "dropped": 0,
       "first_index": 100, "last_index": 104, "entries": 5, "bytes": 9,
       "sha256": "", "seconds": 1.235},
      {"name": "3", "address": "10.1.2.3", "key": "10.1.2.3/log_man_v1",
       "file": null, "status": "empty", "reason": null,
       "range": {"first": 7, "end": 7}, "since": null, "dropped": 4,
       "first_index": null, "last_index": null, "entries": 0, "bytes": 0,
       "sha256": null, "seconds": 0.0},
      {"name": "4", "address": "10.1.2.4", "key": "10.1.2.4\u00c0/log_man_v1",
       "file": null, "status": "failed",
       "reason": "get_last: no answer within 60 s",
       "range": null, "since": null, "dropped": 0,
       "first_index": null, "last_index": null, "entries": 0, "bytes": 0,
       "sha256": null, "seconds": 0.0}
    ]})");
  expected["units"][0]["sha256"] = Sha256Hex("three lines\n");
  expected["units"][1]["sha256"] = Sha256Hex("new ones\n");

  std::string text = ManifestJson(run, units);
  ASSERT_EQ('\n', text.back());
  EXPECT_EQ(expected, nlohmann::ordered_json::parse(text)) << text;
}

}  // namespace
}  // namespace output_test
