#include "app/output/since_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <nlohmann/json.hpp>

#include "app/output/file_io.h"
#include "app/output/json_text.h"
#include "app/output/manifest.h"
#include "app/temp_file.h"
#include "runtime/error/exception.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kStateVersion = 1;
constexpr int kIndent = 2;
constexpr size_t kReadChunk = 64 * 1024;

// Reads the whole file; false with errno set when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[kReadChunk];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      close(fd);
      errno = error;
      return n == 0;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool ReadIndex(const Json& unit, const char* name, uint32_t& out) {
  auto it = unit.find(name);
  if (it == unit.end() || !it->is_number_unsigned()) return false;
  uint64_t value = it->get<uint64_t>();
  if (value > std::numeric_limits<uint32_t>::max()) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

// Fills `units` from the file's text; the reason it is not a state file
// otherwise.
std::string ParseState(const std::string& text,
                       std::map<std::string, SinceRecord>& units) {
  Json state = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (state.is_discarded()) return "not valid JSON";
  if (!state.is_object()) return "not a JSON object";
  auto version = state.find("version");
  if (version == state.end() || !version->is_number_integer() ||
      version->get<int64_t>() != kStateVersion) {
    return "no \"version\": " + std::to_string(kStateVersion);
  }
  auto list = state.find("units");
  if (list == state.end() || !list->is_object()) return "no \"units\" object";
  for (auto it = list->begin(); it != list->end(); ++it) {
    const Json& unit = it.value();
    SinceRecord record;
    if (!unit.is_object() ||
        !ReadIndex(unit, "last_index", record.last_index) ||
        !ReadIndex(unit, "log_first", record.log_first)) {
      units.clear();
      return "bad record for \"" + it.key() + "\"";
    }
    auto collected = unit.find("collected");
    if (collected != unit.end() && collected->is_string()) {
      record.collected = collected->get<std::string>();
    }
    units[it.key()] = record;
  }
  return std::string();
}

}  // namespace

FetchPlan PlanFetch(const SinceRecord* previous, uint32_t first,
                    uint32_t last) {
  FetchPlan plan;
  plan.from = first;
  if (first >= last) return plan;
  plan.count = last - first;
  if (previous == nullptr || previous->log_first > first) return plan;
  uint64_t next = uint64_t{previous->last_index} + 1;
  if (next < first || next > last) return plan;
  plan.incremental = true;
  plan.from = static_cast<uint32_t>(next);
  plan.count = last - plan.from;
  return plan;
}

CSinceState CSinceState::Load(const std::string& path) {
  CSinceState state;
  std::string text;
  if (!ReadWholeFile(path, text)) {
    if (errno != ENOENT) {
      std::string why = qo::pos::last_error_text();
      state.problem_ = "cannot read " + path + ": " + why;
    }
    return state;
  }
  std::string reason = ParseState(text, state.units_);
  if (!reason.empty()) {
    state.problem_ = path + " is not a state file (" + reason + ")";
  }
  return state;
}

const SinceRecord* CSinceState::Find(const std::string& key) const {
  auto it = units_.find(key);
  return it == units_.end() ? nullptr : &it->second;
}

void CSinceState::Update(const std::vector<UnitOutcome>& units,
                         std::chrono::system_clock::time_point now) {
  const std::string collected = UtcIso8601(now);
  for (const UnitOutcome& unit : units) {
    const LogFileSummary& written = unit.written;
    if (unit.status != UnitStatus::kOk || !unit.ranged ||
        written.entries == 0 || written.first != unit.asked.from) {
      continue;
    }
    units_[unit.key] = SinceRecord{written.last, unit.range_first, collected};
  }
}

std::string CSinceState::ToJson() const {
  Json list = Json::object();
  for (const auto& [key, record] : units_) {
    list[ToValidUtf8(key)] = {{"last_index", record.last_index},
                              {"log_first", record.log_first},
                              {"collected", ToValidUtf8(record.collected)}};
  }
  Json state = {{"version", kStateVersion}, {"units", std::move(list)}};
  return state.dump(kIndent) + "\n";
}

void CSinceState::Save(const COutputFolder& folder) const {
  CTempFile file(folder, kStateFileName, CTempFile::Purpose::kOther);
  const std::string text = ToJson();
  WriteAll(file.fd(), text.data(), text.size(), file.path());
  file.Commit(CTempFile::Durability::kSynced);
}
