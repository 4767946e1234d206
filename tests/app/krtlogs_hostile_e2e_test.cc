// The tool against a repository and units that send what they should not:
// keys holding line breaks and escape sequences, text in UTF-8 and in
// Latin-1, errors raised by the repository, and a log shorter than its
// range. Standard output never carries a forged line, the text files keep
// the units' bytes, and every failure has its line, its reason and its
// exit status.
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/log_line.h"
#include "runtime/error/exception.h"
#include "tests/app/e2e_fixture.h"
#include "tests/app/test_repository.h"
#include "tests/support/hex.h"

namespace krtlogs_test {
namespace {

using testing_support::BackgroundProcess;
using testing_support::Hex;
using testing_support::ProcessResult;
using Strings = std::vector<std::string>;

constexpr int kPatienceMs = 30000;

const char kUtf8Text[] =
    "caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80";  // café 中文 😀
const char kLatin1Text[] = "caf\xe9 \xff\x80\xa0 \xc0";
// Every kind of control character a terminal or a script would act on.
const char kControlText[] =
    "red \x1b[31malert\x1b[0m\tnext column\nFound an KRT at 6.6.6.6\r\x7f";

// A unit served by log_charset_unit: its ORB declares `code_set`, and entry
// i of its log carries texts[i] (see tests/runtime/log/charset_unit.cc).
class CharsetUnit {
 public:
  CharsetUnit(const std::string& code_set, const Strings& texts,
              const std::string& output)
      : texts_(texts), process_(Argv(code_set, texts), output) {}

  // The unit's object reference, once it serves; empty if it never does.
  std::string Reference() const {
    if (!process_.WaitForOutput("ready", kPatienceMs)) return "";
    const std::string out = process_.Output();
    const size_t at = out.find("ior ");
    if (at == std::string::npos) return "";
    return out.substr(at + 4, out.find('\n', at) - at - 4);
  }

  // The text file the tool writes for this unit.
  std::string ExpectedLog() const {
    std::string text;
    for (uint32_t i = 0; i < texts_.size(); ++i) {
      qo::log::log_entry_t entry;
      entry.s_who = texts_[i];
      entry.severity = static_cast<int32_t>(i);
      entry.i_what = -static_cast<int32_t>(i);
      entry.s_what = "what: " + texts_[i];
      entry.when = {2024, 2, 29, 23, 59, 59, i};
      entry.index = i;
      AppendLogLine(entry, text);
    }
    return text;
  }

 private:
  static Strings Argv(const std::string& code_set, const Strings& texts) {
    Strings argv = {LOG_CHARSET_UNIT, code_set};
    for (const std::string& text : texts) argv.push_back(Hex(text));
    return argv;
  }

  Strings texts_;
  BackgroundProcess process_;
};

// Serves test_repository in place of velto-repo.
class HostileRepositoryTest : public E2eTest {
 protected:
  void SetUp() override {}
  void TearDown() override {
    if (repository_) {
      EXPECT_EQ(0, repository_->Stop(SIGTERM)) << repository_->Output();
    }
    E2eTest::TearDown();
  }

  void ServeRepository(const Strings& args) {
    if (repository_) repository_->Stop(SIGTERM);
    Strings argv = {TEST_REPOSITORY_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    repository_ = std::make_unique<BackgroundProcess>(
        argv, logs_.File("test_repository.out"));
    ASSERT_TRUE(
        repository_->WaitForOutput("test_repository ready", kPatienceMs))
        << repository_->Output();
  }

  CharsetUnit& StartCharsetUnit(const std::string& code_set,
                                const Strings& texts) {
    const std::string output =
        logs_.File("unit" + std::to_string(charset_units_.size()));
    charset_units_.push_back(
        std::make_unique<CharsetUnit>(code_set, texts, output));
    return *charset_units_.back();
  }

 private:
  std::unique_ptr<BackgroundProcess> repository_;
  std::vector<std::unique_ptr<CharsetUnit>> charset_units_;
};

TEST_F(HostileRepositoryTest, ControlCharactersInKeysAreShownEscaped) {
  const CharsetUnit& unit =
      StartCharsetUnit("ISO-8859-1", {kControlText, "plain"});
  const std::string ior = unit.Reference();
  ASSERT_FALSE(ior.empty());
  const std::string forging = "10.1.2.7\nFound an KRT at 6.6.6.6";
  const std::string clearing = "10.1.2.8\x1b[2J\x1b[H";
  ServeRepository({"--key", forging + "/log_man_v1", ior, "--key",
                   clearing + "/log_man_v1", ior});

  ProcessResult r = Krtlogs({"-n", "2"});
  EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                     "Searching for Velto Keys",
                     "Found an KRT at 10.1.2.7\\nFound an KRT at 6.6.6.6",
                     "Found an KRT at 10.1.2.8\\x1b[2J\\x1b[H",
                     "Getting logs from KRT7", "Getting logs from KRT8",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find('\x1b')) << r.err;
  // The unit's own bytes, control characters and all, reach the files.
  ExpectArchive(Work("KRTLogs.zip"), {{"KRT7_log.txt", unit.ExpectedLog()},
                                      {"KRT8_log.txt", unit.ExpectedLog()}});

  // Asked for by that very address, the unit's name and the archive's name
  // are shown escaped as well; the archive takes the name as given.
  r = Krtlogs({"-s", forging});
  const std::string archive = "KRTLog_" + forging + ".zip";
  EXPECT_EQ(
      Strings({"Searching for single KRT at 10.1.2.7\\nFound an KRT at 6.6.6.6",
               "done", "Searching for Velto Keys",
               "Found KRT at 10.1.2.7\\nFound an KRT at 6.6.6.6",
               "Getting logs from KRT7",
               "Zipping up log files to KRTLog_10.1.2.7\\nFound an KRT at "
               "6.6.6.6.zip",
               "done"}),
      Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  ExpectArchive(Work(archive), {{"KRT7_log.txt", unit.ExpectedLog()}});
  EXPECT_EQ(Strings({archive, "KRTLogs.zip"}), Files(work_.path()));
}

TEST_F(HostileRepositoryTest, Utf8AndLatin1UnitsAreCollectedByteForByte) {
  const CharsetUnit& utf8 =
      StartCharsetUnit("UTF-8", {kUtf8Text, "tab\there", ""});
  const CharsetUnit& latin1 =
      StartCharsetUnit("ISO-8859-1", {kLatin1Text, kUtf8Text});
  const std::string utf8_ior = utf8.Reference();
  const std::string latin1_ior = latin1.Reference();
  ASSERT_FALSE(utf8_ior.empty());
  ASSERT_FALSE(latin1_ior.empty());
  ServeRepository({"--key", "10.1.2.41/log_man_v1", utf8_ior, "--key",
                   "10.1.2.42/log_man_v1", latin1_ior});

  ProcessResult r = Krtlogs({"-n", "2", "-q"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("", r.err);  // no failure at all, and -q leaves out the summary
  ExpectArchive(Work("KRTLogs.zip"), {{"KRT41_log.txt", utf8.ExpectedLog()},
                                      {"KRT42_log.txt", latin1.ExpectedLog()}});
}

TEST_F(HostileRepositoryTest, ErrorsRaisedByTheRepositoryFailDiscovery) {
  const std::string code_text =
      qo::errorcode_t(test_repository::kFailureCode).what();
  const struct {
    const char* fail;
    std::string reason;
  } cases[] = {
      {"keys_get:exception", test_repository::kExceptionText},
      {"keys_get:errorcode", code_text},
      {"value_get:exception", test_repository::kExceptionText},
      {"value_get:errorcode", code_text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail);
    ServeRepository({"--key", "10.1.2.1/log_man_v1", "IOR:00", "--key",
                     "10.1.2.2/log_man_v1", "IOR:00", "--fail", c.fail});
    const std::string operation =
        std::string(c.fail).substr(0, std::string(c.fail).find(':'));
    const bool keys_answered = operation == "value_get";

    ProcessResult many = Krtlogs({"-n", "2"});
    Strings expected = {"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                        "Searching for Velto Keys"};
    if (keys_answered) expected.push_back("Found an KRT at 10.1.2.1");
    expected.insert(expected.end(), {"Failed to find all KRTs", "done"});
    EXPECT_EQ(expected, Lines(many.out)) << many.err;
    EXPECT_EQ(255, many.status);

    ProcessResult single = Krtlogs({"-s", "10.1.2.1"});
    expected = {"Searching for single KRT at 10.1.2.1", "done",
                "Searching for Velto Keys"};
    if (keys_answered) expected.push_back("Found KRT at 10.1.2.1");
    expected.insert(expected.end(), {"Failed to find KRT at 10.1.2.1", "done"});
    EXPECT_EQ(expected, Lines(single.out)) << single.err;
    EXPECT_EQ(255, single.status);

    for (const ProcessResult* r : {&many, &single}) {
      EXPECT_NE(std::string::npos,
                r->err.find("krtlogs: Velto repository: " + operation + ": "))
          << r->err;
      EXPECT_NE(std::string::npos, r->err.find(c.reason)) << r->err;
    }
    EXPECT_EQ(Strings(), Files(work_.path()));
  }
}

// Each call to the repository has its own short limit; a bound this loose
// only tells that apart from a call left to the units' 60 s or to no limit.
constexpr auto kGenerousBound = std::chrono::seconds(40);

TEST_F(HostileRepositoryTest, ARepositoryThatStopsAnsweringMidSearchEndsIt) {
  ServeRepository({"--key", "10.1.2.1/log_man_v1", "IOR:00", "--key",
                   "10.1.2.2/log_man_v1", "IOR:00", "--fail",
                   "value_get:hang"});
  const auto start = std::chrono::steady_clock::now();
  ProcessResult r = Krtlogs({"-n", "2"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Failed to find all KRTs", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(255, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: Velto repository: value_get: no answer "
                       "within 3 s [TIMEOUT"))
      << r.err;
  EXPECT_LT(took, kGenerousBound);
}

TEST_F(E2eTest, ALogShorterThanItsRangeIsKeptAndReported) {
  StartUnits({"--units", "1", "--first-address", "10.1.2.3", "--entries", "40",
              "--fault", "10.1.2.3:short:7"});
  ProcessResult r = Krtlogs({"-s", "10.1.2.3"});
  EXPECT_EQ(Strings({"Searching for single KRT at 10.1.2.3", "done",
                     "Searching for Velto Keys", "Found KRT at 10.1.2.3",
                     "Getting logs from KRT3",
                     "Zipping up log files to KRTLog_10.1.2.3.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: KRT3 (10.1.2.3): get_last: the unit sent 7 "
                       "of the 40 entries its range announced\n"))
      << r.err;
  ExpectArchive(Work("KRTLog_10.1.2.3.zip"),
                {{"KRT3_log.txt", ExpectedLog("10.1.2.3", 40, 1, 7)}});
}

}  // namespace
}  // namespace krtlogs_test
