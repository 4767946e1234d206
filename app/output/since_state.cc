#include "app/output/since_state.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "app/folder.h"
#include "app/output/file_io.h"
#include "app/output/json_text.h"
#include "app/output/manifest.h"
#include "app/output/state_parser.h"
#include "app/temp_file.h"
#include "runtime/error/exception.h"

namespace {

using Json = nlohmann::json;

constexpr int kStateVersion = 1;

// Reads the state file of `folder` into `text`: true when there is a file
// to parse; false when there is none, or with the reason in `problem` when
// what has the name is not to be read.
bool ReadStateFile(const COutputFolder& folder, std::string& text,
                   std::string& problem) {
  const std::string path = folder.PathOf(kStateFileName);
  switch (ReadSmallFile(folder.fd(), kStateFileName, CSinceState::kMaxFileBytes,
                        text)) {
    case SmallFileRead::kRead:
      return true;
    case SmallFileRead::kMissing:
      return false;
    case SmallFileRead::kLink:
      problem = path + " is a symbolic link";
      return false;
    case SmallFileRead::kNotRegular:
      problem = path + " is not a regular file";
      return false;
    case SmallFileRead::kTooLarge:
      problem = path + " is larger than the " +
                std::to_string(CSinceState::kMaxFileBytes >> 20) +
                " MiB a state file may hold";
      return false;
    case SmallFileRead::kError:
      break;
  }
  problem = "cannot read " + path + ": " + qo::pos::last_error_text();
  return false;
}

}  // namespace

FetchPlan PlanFetch(const SinceRecord* previous, uint32_t first,
                    uint32_t last) {
  FetchPlan plan;
  plan.from = first;
  const bool fits = previous != nullptr && previous->log_first <= first;
  const uint64_t next = fits ? uint64_t{previous->last_index} + 1 : 0;
  // A log that went back below the next index was reset, not emptied from
  // its oldest end: nothing of it counts as dropped.
  if (fits && next < first && first <= last) {
    plan.dropped = static_cast<uint32_t>(first - next);
  }
  if (first >= last) return plan;
  plan.count = last - first;
  if (!fits || next < first || next > last) return plan;
  plan.incremental = true;
  plan.from = static_cast<uint32_t>(next);
  plan.count = last - plan.from;
  return plan;
}

CSinceState CSinceState::Load(const COutputFolder& folder) {
  CSinceState state;
  std::string text;
  if (!ReadStateFile(folder, text, state.problem_)) return state;
  std::string reason = ParseStateText(text, state.units_);
  if (!reason.empty()) {
    state.problem_ =
        folder.PathOf(kStateFileName) + " is not a state file (" + reason + ")";
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
    if (unit.status == UnitStatus::kFailed || !unit.ranged) continue;
    if (unit.status == UnitStatus::kOk && written.entries > 0 &&
        written.first == uint64_t{unit.asked.from} + unit.dropped_while_read) {
      units_[unit.key] = SinceRecord{written.last, unit.range_first, collected};
    } else if (unit.asked.dropped > 0) {
      // What the unit dropped is in no archive and never will be: the
      // record moves up to the log's first index, so that the next run
      // neither asks for those entries nor counts them again.
      units_[unit.key] =
          SinceRecord{unit.range_first - 1, unit.range_first, collected};
    }
  }
}

std::string CSinceState::ToJson() const {
  // Written out record by record, laid out as a two-space indented dump
  // would lay it out, without building a document of every unit first.
  std::string text = "{\n  \"version\": " + std::to_string(kStateVersion) +
                     ",\n  \"units\": {";
  // Two keys that read the same once made valid UTF-8 keep the valid one.
  std::set<std::string> mended;
  const char* separator = "\n";
  for (const auto& [key, record] : units_) {
    std::string name = ToValidUtf8(key);
    if (name != key &&
        (units_.count(name) != 0 || !mended.insert(name).second)) {
      continue;
    }
    text += separator;
    separator = ",\n";
    text += "    " + Json(name).dump() +
            ": {\n      \"last_index\": " + std::to_string(record.last_index) +
            ",\n      \"log_first\": " + std::to_string(record.log_first) +
            ",\n      \"collected\": " +
            Json(ToValidUtf8(record.collected)).dump() + "\n    }";
  }
  text += units_.empty() ? "}\n}\n" : "\n  }\n}\n";
  return text;
}

void CSinceState::Save(const COutputFolder& folder) const {
  CTempFile file(folder, kStateFileName, CTempFile::Purpose::kOther);
  const std::string text = ToJson();
  WriteAll(file.fd(), text.data(), text.size(), folder.PathOf(kStateFileName));
  file.Commit(CTempFile::Durability::kSynced);
}
