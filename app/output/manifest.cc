#include "app/output/manifest.h"

#include <limits.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "app/output/json_text.h"
#include "app/output/log_writer.h"
#include "runtime/error/exception.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kIndent = 2;
constexpr double kMillisecondsPerSecond = 1000.0;

Json Text(const std::string& text) { return Json(ToValidUtf8(text)); }

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Text(text);
}

Json UnitJson(const UnitOutcome& unit) {
  Json out;
  out["name"] = Text(unit.name);
  out["address"] = Text(unit.address);
  out["key"] = Text(unit.key);
  out["file"] =
      unit.status == UnitStatus::kOk ? TextOrNull(unit.file) : Json(nullptr);
  out["status"] = UnitStatusName(unit.status);
  // A unit whose file holds fewer entries than it announced is "ok" (its
  // file is in the archive) but must not look complete.
  out["reason"] = FellShort(unit) ? Text(unit.reason) : Json(nullptr);
  // "end" is one past the newest entry, as range answers it: "last" would
  // read as the newest entry itself, which is what "last_index" is.
  if (unit.ranged) {
    out["range"] = {{"first", unit.range_first}, {"end", unit.range_end}};
  } else {
    out["range"] = nullptr;
  }
  out["since"] = unit.asked.incremental ? Json(unit.asked.from) : Json(nullptr);
  out["dropped"] = DroppedEntries(unit);
  const LogFileSummary& written = unit.written;
  bool any = written.entries > 0;
  out["first_index"] = any ? Json(written.first) : Json(nullptr);
  out["last_index"] = any ? Json(written.last) : Json(nullptr);
  out["entries"] = written.entries;
  out["bytes"] = written.bytes;
  out["sha256"] = TextOrNull(written.sha256);
  out["seconds"] = std::round(unit.seconds * kMillisecondsPerSecond) /
                   kMillisecondsPerSecond;
  return out;
}

}  // namespace

std::string ManifestJson(const RunRecord& run,
                         const std::vector<UnitOutcome>& units) {
  Json manifest;
  manifest["tool"] = Text(run.tool);
  manifest["version"] = Text(run.version);
  manifest["host"] = Text(run.host);
  manifest["started"] = UtcIso8601(run.started);
  manifest["finished"] = UtcIso8601(run.finished);
  Json arguments = Json::array();
  for (const std::string& argument : run.arguments) {
    arguments.push_back(Text(argument));
  }
  manifest["arguments"] = std::move(arguments);
  manifest["format"] = LogFormatName(run.format);
  Json counts = {{"ok", 0}, {"empty", 0}, {"failed", 0}};
  Json list = Json::array();
  for (const UnitOutcome& unit : units) {
    Json& count = counts[UnitStatusName(unit.status)];
    count = count.get<int>() + 1;
    list.push_back(UnitJson(unit));
  }
  manifest["counts"] = std::move(counts);
  manifest["units"] = std::move(list);
  return manifest.dump(kIndent) + "\n";
}

std::string Sha256Sums(const std::vector<UnitOutcome>& units) {
  std::string text;
  for (const UnitOutcome& unit : units) {
    if (unit.status != UnitStatus::kOk) continue;
    if (unit.file.empty()) {
      throw qo::exception_t("no file name for KRT" + unit.name);
    }
    if (unit.written.sha256.size() != CSha256::kHexDigits) {
      throw qo::exception_t("no SHA-256 for " + unit.file);
    }
    // sha256sum marks a name holding a backslash or a line feed with a
    // leading backslash and writes those two escaped.
    std::string name;
    bool escaped = false;
    for (char c : unit.file) {
      if (c == '\\') {
        name += "\\\\";
        escaped = true;
      } else if (c == '\n') {
        name += "\\n";
        escaped = true;
      } else {
        name.push_back(c);
      }
    }
    if (escaped) text.push_back('\\');
    text += unit.written.sha256 + "  " + name + "\n";
  }
  return text;
}

std::string UtcIso8601(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[sizeof("YYYY-MM-DDTHH:MM:SSZ") + 8];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return name;
}
