#include "tests/app/e2e_tools.h"

#include <cstdio>

#include "app/log_line.h"
#include "tests/support/hex.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {

using testing_support::Hex;
using testing_support::ProcessResult;
using testing_support::RunProcess;

namespace {

std::string Format(const char* format, const std::tm& when) {
  char text[32];
  std::strftime(text, sizeof(text), format, &when);
  return text;
}

}  // namespace

ProcessResult PostEntries(const std::string& address, uint32_t from,
                          uint32_t count) {
  return RunProcess(
      {KRT_POST_BIN, address, std::to_string(from), std::to_string(count)});
}

nlohmann::json ReadArchiveFacts(const std::string& archive,
                                std::string& error) {
  ProcessResult r =
      RunProcess({"python3", E2E_SCRIPTS_DIR "/archive_facts.py", archive});
  if (r.status != 0) {
    error = "archive_facts.py " + archive + " ended with " +
            std::to_string(r.status) + ": " + r.err;
    return nullptr;
  }
  nlohmann::json facts =
      nlohmann::json::parse(r.out, nullptr, /*allow_exceptions=*/false);
  if (facts.is_discarded()) {
    error = "archive_facts.py wrote no JSON: " + r.out;
    return nullptr;
  }
  return facts;
}

nlohmann::json ExpectedJsonRow(const qo::log::log_entry_t& entry,
                               const std::string& who_as_read,
                               const std::string& what_as_read) {
  const qo::log::log_time_t& t = entry.when;
  char time[64];
  std::snprintf(time, sizeof(time), "%04u-%02u-%02uT%02u:%02u:%02u.%06u",
                t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsec);
  return nlohmann::json::array({entry.index, time, entry.severity,
                                SeverityName(entry.severity), entry.i_what,
                                Hex(who_as_read), Hex(what_as_read)});
}

nlohmann::json ExpectedJsonRow(const qo::log::log_entry_t& entry) {
  return ExpectedJsonRow(entry, entry.s_who, entry.s_what);
}

TerminalRun RunKrtlogsOnTerminal(const std::vector<std::string>& args,
                                 const std::string& cwd) {
  testing_support::TempDir captured;
  std::vector<std::string> argv = {"python3", E2E_SCRIPTS_DIR "/run_on_tty.py",
                                   captured.path(), KRTLOGS_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProcess(argv, cwd);
  TerminalRun run;
  run.status = r.status;
  run.out = testing_support::ReadFile(captured.File("stdout"));
  run.tty = testing_support::ReadFile(captured.File("tty"));
  run.screen = testing_support::ReadFile(captured.File("screen"));
  // The script itself says nothing; anything here is its failure.
  run.error = r.out + r.err;
  return run;
}

std::string UtcStamp(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  return Format("%Y%m%d-%H%M%SZ", utc);
}

std::string UtcText(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  return Format("%Y-%m-%dT%H:%M:%SZ", utc);
}

}  // namespace krtlogs_test
