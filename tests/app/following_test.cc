// One followed unit over rounds of a log that changes between the calls:
// what reaches standard output (each entry once, in order, one line each)
// and what standard error is told, for a log that grows while it is read,
// drops its oldest entries, is cleared, is numbered afresh, or whose unit
// stops answering for a while.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/call_limits.h"
#include "app/follow/follow_output.h"
#include "app/follow/followed_unit.h"
#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace {

using Indexes = std::vector<uint32_t>;
using Strings = std::vector<std::string>;

// A log holding the indexes [first, end); `between` runs after each range,
// before the next call (a log growing while it is read); `down` makes
// every call fail.
struct ScriptedLog {
  ScriptedLog(uint32_t f, uint32_t e) : first(f), end(e) {}
  uint32_t first = 0;
  uint32_t end = 0;
  std::function<void(ScriptedLog&)> between;
  bool down = false;
};

class ScriptedManager : public qo::log::manager_if_t {
 public:
  explicit ScriptedManager(ScriptedLog& log) : log_(log) {}
  void range(uint32_t& first, uint32_t& last) override {
    Check();
    first = log_.first;
    last = log_.end;
    if (log_.between) log_.between(log_);
  }
  void get_last(uint32_t count, qo::log::log_entry_list_t& out) override {
    Check();
    out.clear();
    const uint32_t from = log_.end - std::min(count, log_.end - log_.first);
    for (uint32_t i = from; i < log_.end; ++i) {
      qo::log::log_entry_t entry;
      entry.index = i;
      entry.s_who = "disk\td";
      entry.s_what = "line\nbreak " + std::to_string(i);
      out.push_back(entry);
    }
  }
  void get_since(uint32_t, uint32_t, qo::log::log_entry_list_t&) override {
    Unused();
  }
  bool find_relative(qo::log::log_entry_t&, uint32_t, int32_t, int32_t,
                     int32_t) override {
    return Unused();
  }
  bool find_previous(qo::log::log_entry_t&, uint32_t, int32_t,
                     int32_t) override {
    return Unused();
  }
  bool find_next(qo::log::log_entry_t&, uint32_t, int32_t, int32_t) override {
    return Unused();
  }
  void post(const qo::log::log_entry_list_t&,
            const qo::log::log_time_t&) override {
    Unused();
  }
  void clear_logs() override { Unused(); }

 private:
  void Check() {
    if (log_.down) throw qo::exception_t("unit down");
  }
  bool Unused() { throw qo::exception_t("not a call -follow makes"); }
  ScriptedLog& log_;
};

Indexes Span(uint32_t from, uint32_t end) {
  Indexes all;
  for (uint32_t i = from; i < end; ++i) all.push_back(i);
  return all;
}

Indexes Join(Indexes a, const Indexes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FollowedUnitTest, EveryEntryOnceWhateverTheLogDoes) {
  using Round = std::function<void(ScriptedLog&)>;
  auto grow = [](uint32_t n) { return [n](ScriptedLog& l) { l.end += n; }; };
  // In every case the log grows by three between the first range and the
  // first get_last: those entries are not skipped.
  const struct {
    const char* name;
    ScriptedLog log;
    uint32_t tail;
    std::vector<Round> rounds;  // before each round after the first
    Indexes printed;
    Strings said;  // how standard error's lines begin, after the label
  } cases[] = {
      {"the tail, then what is new",
       {100, 150},
       10,
       {grow(5), grow(0)},
       Span(140, 158),
       {}},
      {"no tail", {0, 7}, 0, {grow(2)}, Span(7, 12), {}},
      {"a log shorter than the tail", {3, 5}, 10, {}, Span(3, 8), {}},
      {"a full log drops its oldest",
       {0, 10},
       10,
       {[](ScriptedLog& l) { l.first = 30, l.end = 43; }},
       Join(Span(0, 13), Span(30, 43)),
       {"17 entries were dropped by the unit before they could be printed; "
        "follow with a shorter -interval"}},
      {"cleared, its indexes going on",
       {0, 10},
       10,
       {[](ScriptedLog& l) { l.first = l.end = l.end + 2; }, grow(3)},
       Join(Span(0, 13), Span(15, 18)),
       {"the log was cleared or reset (2 entries not printed went with it); "
        "following it from index 15"}},
      {"numbered afresh",
       {50, 60},
       10,
       {[](ScriptedLog& l) { l.first = 0, l.end = 3; }},
       Join(Span(50, 63), Span(0, 3)),
       {"the log was cleared or reset; following it from index 0"}},
      {"stops answering, then answers again",
       {0, 4},
       10,
       {[](ScriptedLog& l) { l.down = true; }, grow(0),
        [](ScriptedLog& l) { l.down = false, l.end = 9; }},
       Span(0, 9),
       {"range: ", "answers again"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLog log = c.log;
    log.between = [](ScriptedLog& l) {
      l.end += 3;
      l.between = nullptr;
    };
    RunOptions options;
    options.tail = c.tail;
    const CCallLimits limits(5);
    SStepSettings settings;
    settings.options = &options;
    settings.limits = &limits;
    const ManagerFactory managers = [&log](const std::string&) {
      return std::unique_ptr<qo::log::manager_if_t>(new ScriptedManager(log));
    };
    const SStepIo io{nullptr, nullptr, &managers};
    FILE* file = tmpfile();
    ASSERT_NE(nullptr, file);
    CFollowOutput out(fileno(file));
    Strings said;
    const CFollowedUnit::Say say = [&said](const std::string& line) {
      said.push_back(line.substr(line.find("): ") + 3));
    };
    const SKRTRecord record{"10.1.2.7/log_man_v1", "ior", "7", 0x0A010207};
    CFollowedUnit unit(record, "KRT7", io, settings, out, say);
    unit.Poll();
    for (const Round& round : c.rounds) {
      round(log);
      unit.Poll();
    }

    std::string text(static_cast<size_t>(ftell(file)), '\0');
    rewind(file);
    ASSERT_EQ(text.size(), fread(&text[0], 1, text.size(), file));
    fclose(file);
    Indexes printed;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
         at = end + 1) {
      // One line per entry, whatever its text holds.
      const std::string line = text.substr(at, end - at);
      ASSERT_EQ(0u, line.rfind("KRT7\t", 0)) << line;
      ASSERT_NE(std::string::npos, line.find("\tdisk\\td\tline\\nbreak "))
          << line;
      printed.push_back(
          static_cast<uint32_t>(std::stoul(line.substr(line.find("\t ") + 2))));
    }
    EXPECT_EQ(c.printed, printed);
    ASSERT_EQ(c.said.size(), said.size()) << (said.empty() ? "" : said[0]);
    for (size_t i = 0; i < said.size(); ++i) {
      EXPECT_EQ(0u, said[i].rfind(c.said[i], 0)) << said[i];
    }
  }
}

}  // namespace
