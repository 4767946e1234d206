#include "app/steps/discovery.h"

#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <set>
#include <vector>

#include "app/call_limits.h"
#include "app/reasons.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "runtime/log/log_types.h"

namespace {

using qo::log::kManagerKeySuffix;
const std::string kSearchPattern = std::string("*") + kManagerKeySuffix;
constexpr int kScans = 10;
const char kRepositorySubject[] = "Velto repository";

// Reads one number the way scanf's "%i" does: blanks skipped, optional
// sign, "0x" for hexadecimal and a leading "0" for octal. Values beyond 32
// bits are clamped by strtoll and then cut to 32 bits, never undefined.
bool ReadNumber(const char*& p, uint32_t& value) {
  char* end = nullptr;
  long long n = strtoll(p, &end, 0);
  if (end == p) return false;
  value = static_cast<uint32_t>(static_cast<unsigned long long>(n));
  p = end;
  return true;
}

// The unit keys of one scan, each once, in the order the repository gave.
std::vector<std::string> UnitKeys(const std::list<std::string>& keys) {
  std::vector<std::string> unique;
  std::set<std::string> seen;
  std::string text;
  for (const std::string& key : keys) {
    if (CDiscovery::AddressText(key, text) && seen.insert(key).second) {
      unique.push_back(key);
    }
  }
  return unique;
}

bool SameSet(const std::vector<std::string>& a,
             const std::vector<std::string>& b) {
  return std::set<std::string>(a.begin(), a.end()) ==
         std::set<std::string>(b.begin(), b.end());
}

// Inserts `record` before the first unit with a greater address.
void Insert(const SKRTRecord& record, UnitList& units) {
  auto it = units.begin();
  while (it != units.end() && it->address <= record.address) ++it;
  units.insert(it, record);
}

}  // namespace

bool CDiscovery::AddressText(const std::string& key, std::string& text) {
  size_t at = key.find(kManagerKeySuffix);
  if (at == std::string::npos) return false;
  text = key.substr(0, at);
  return true;
}

CDiscovery::CDiscovery(qo::pm::repository_if_t* repository,
                       CListener* listener, std::ostream& diagnostics,
                       unsigned pause_microseconds)
    : repository_(repository),
      listener_(listener),
      diagnostics_(diagnostics),
      pause_microseconds_(pause_microseconds) {}

void CDiscovery::Report(const std::string& message) {
  listener_->OnMessage(message);
}

uint32_t CDiscovery::ParseAddress(const std::string& text,
                                        std::string& name) {
  uint32_t n[4] = {0, 0, 0, 0};
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (*p != '.') break;
      ++p;
    }
    if (!ReadNumber(p, n[i])) break;
  }
  name = std::to_string(n[3]);
  return (n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3];
}

void CDiscovery::Pause() {
  if (pause_microseconds_ > 0) usleep(pause_microseconds_);
}

void CDiscovery::Begin(int asked) {
  outcome_ = SOutcome();
  outcome_.asked = asked;
  stopped_ = false;
  deadline_ = now_() + std::chrono::seconds(kDiscoverySeconds);
}

void CDiscovery::NoteRepository(const char* operation,
                                std::exception_ptr thrown) {
  std::exception_ptr failure = thrown;
  if (!failure && probe_) failure = probe_();
  outcome_.failure = failure;
  outcome_.failed_operation = failure ? operation : "";
  if (!thrown) return;
  // A transport failure may pass (the repository may be starting); an
  // error the repository raised is its answer and will not change.
  try {
    std::rethrow_exception(thrown);
  } catch (const qo::corba::exception_t&) {
  } catch (...) {
    stopped_ = true;
  }
}

bool CDiscovery::Query(std::list<std::string>& keys) {
  std::exception_ptr thrown;
  try {
    repository_->keys_get(kSearchPattern, keys, false);
  } catch (...) {
    thrown = std::current_exception();
  }
  NoteRepository("keys_get", thrown);
  return !outcome_.failure;
}

bool CDiscovery::Record(const std::string& key, UnitList& units) {
  SKRTRecord record;
  record.key = key;
  std::string value;
  bool found = false;
  std::exception_ptr thrown;
  try {
    found = repository_->value_get(key, value);
  } catch (...) {
    thrown = std::current_exception();
  }
  NoteRepository("value_get", thrown);
  if (outcome_.failure) {
    // A repository that fails mid-search would fail each further lookup
    // too, each after its own time-out.
    stopped_ = true;
    return false;
  }
  // A key withdrawn since the scan leaves the reference empty, so that
  // this unit fails on its own instead of reading another unit's log.
  if (found) record.ior = value;
  record.address = ParseAddress(key, record.name);
  Insert(record, units);
  ++outcome_.found;
  return true;
}

// No new scan starts once its pause alone would reach the deadline.
bool CDiscovery::PastDeadline() const {
  return now_() + std::chrono::microseconds(pause_microseconds_) >= deadline_;
}

void CDiscovery::ExplainFailure(const std::string& wanted,
                                const UnitList& units) {
  if (outcome_.failure) {
    diagnostics_ << FailureLine(kRepositorySubject, outcome_.failed_operation,
                                DescribeException(
                                    outcome_.failure,
                                    CCallLimits::RepositoryContext()))
                 << std::endl;
    if (outcome_.found == 0 || outcome_.asked <= 1) return;
  }
  std::string line = "krtlogs: ";
  if (outcome_.asked == kAllUnits) {
    line +=
        "no unit is published under a key matching \"" + kSearchPattern + "\"";
  } else if (!wanted.empty()) {
    line += "no unit is published under the key \"" +
            EscapeControlCharacters(wanted) + "\"";
  } else {
    line += "found " + std::to_string(outcome_.found) + " of " +
            std::to_string(outcome_.asked) + " units asked for";
    std::string separator = ": ";
    for (const SKRTRecord& unit : units) {
      line += separator + UnitLabel(unit);
      separator = ", ";
    }
  }
  diagnostics_ << line << std::endl;
}

bool CDiscovery::FindOne(const std::string& address, UnitList& units) {
  Begin(1);
  std::list<std::string> keys;
  Report("Searching for Velto Keys");
  Query(keys);
  for (int remaining = kScans; !stopped_;) {
    for (const std::string& key : keys) {
      std::string text;
      if (!AddressText(key, text) || text != address) continue;
      Report("Found KRT at " + EscapeControlCharacters(text));
      if (Record(key, units)) return true;
      break;
    }
    if (stopped_ || --remaining == 0 || PastDeadline()) break;
    Pause();
    Query(keys);
  }
  ExplainFailure(address + kManagerKeySuffix, units);
  return false;
}

bool CDiscovery::FindCount(int count, UnitList& units) {
  Begin(count);
  int found = 0;
  int remaining = kScans;
  std::list<std::string> keys;
  std::set<std::string> recorded;
  for (const SKRTRecord& unit : units) recorded.insert(unit.key);
  Report("Searching for Velto Keys");
  Query(keys);
  while (found < count && !stopped_) {
    for (const std::string& key : keys) {
      std::string text;
      if (recorded.count(key) != 0 || !AddressText(key, text)) continue;
      Report("Found an KRT at " + EscapeControlCharacters(text));
      if (!Record(key, units)) break;
      recorded.insert(key);
      if (++found >= count) break;
    }
    if (stopped_ || --remaining == 0 || PastDeadline()) break;
    Pause();
    Query(keys);
  }
  if (found == count && !stopped_) return true;
  ExplainFailure("", units);
  return false;
}

bool CDiscovery::FindAll(UnitList& units) {
  Begin(kAllUnits);
  std::set<std::string> recorded;
  for (const SKRTRecord& unit : units) recorded.insert(unit.key);
  Report("Searching for Velto Keys");
  // The last scan the repository answered, and whether the one before it
  // was answered too and found the same units.
  std::vector<std::string> last;
  bool stable = false;
  for (int remaining = kScans;;) {
    std::list<std::string> keys;
    bool answered = Query(keys);
    if (stopped_) break;
    if (answered) {
      std::vector<std::string> scan = UnitKeys(keys);
      stable = !scan.empty() && SameSet(scan, last);
      last = std::move(scan);
    } else {
      last.clear();
    }
    if (stable || --remaining == 0 || PastDeadline()) break;
    Pause();
  }
  if (!stopped_ && !last.empty()) {
    if (!stable) {
      diagnostics_ << "krtlogs: the units published did not settle in two "
                      "scans; taking the "
                   << last.size() << " of the last scan" << std::endl;
    }
    for (const std::string& key : last) {
      std::string text;
      if (recorded.count(key) != 0 || !AddressText(key, text)) continue;
      Report("Found an KRT at " + EscapeControlCharacters(text));
      if (!Record(key, units)) break;
    }
  }
  if (outcome_.found > 0 && !stopped_) return true;
  ExplainFailure("", units);
  return false;
}
