#include "app/output/state_parser.h"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

using Json = nlohmann::json;

constexpr int64_t kStateVersion = 1;

// Where the parser is: the members it may meet at each depth.
class StateHandler : public nlohmann::json_sax<Json> {
 public:
  explicit StateHandler(std::map<std::string, SinceRecord>& units)
      : units_(units) {}

  // The reason the text is not a state, once the parse is over.
  std::string Verdict() const {
    if (!reason_.empty()) return reason_;
    if (!version_ok_) {
      return "no \"version\": " + std::to_string(kStateVersion);
    }
    if (!units_seen_) return "no \"units\" object";
    return "";
  }

  bool null() override { return Value(Kind::kOther); }
  bool boolean(bool) override { return Value(Kind::kOther); }
  bool number_integer(number_integer_t n) override {
    if (depth_ == 1 && key_ == "version") version_ok_ = n == kStateVersion;
    return Value(n >= 0 ? Kind::kIndex : Kind::kOther,
                 static_cast<uint64_t>(n));
  }
  bool number_unsigned(number_unsigned_t n) override {
    if (depth_ == 1 && key_ == "version") {
      version_ok_ = n == static_cast<uint64_t>(kStateVersion);
    }
    return Value(Kind::kIndex, n);
  }
  bool number_float(number_float_t, const string_t&) override {
    return Value(Kind::kOther);
  }
  bool string(string_t& s) override {
    if (depth_ == 3 && key_ == "collected") record_.collected = s;
    return Value(Kind::kOther);
  }
  bool binary(binary_t&) override { return Value(Kind::kOther); }
  bool start_object(std::size_t) override {
    if (skipped_ == 0) {
      if (depth_ == 0 || (depth_ == 1 && key_ == "units")) {
        units_seen_ = units_seen_ || depth_ == 1;
        ++depth_;
        return true;
      }
      if (depth_ == 2) {
        record_ = SinceRecord();
        have_last_ = have_first_ = false;
        ++depth_;
        return true;
      }
      if (depth_ == 3 && IsIndex()) return Fail();
    }
    return Skip();
  }
  bool end_object() override {
    --depth_;
    if (skipped_ > 0) {
      --skipped_;
      return true;
    }
    if (depth_ == 2) {
      if (!have_last_ || !have_first_) return Fail();
      units_.insert_or_assign(units_.end(), unit_key_, record_);
    }
    return true;
  }
  bool start_array(std::size_t) override {
    if (skipped_ == 0) {
      if (depth_ == 0) return Fail("not a JSON object");
      if (depth_ == 1 && key_ == "units") return Fail("no \"units\" object");
      if (depth_ == 2 || (depth_ == 3 && IsIndex())) return Fail();
    }
    return Skip();
  }
  bool end_array() override {
    --skipped_;
    --depth_;
    return true;
  }
  bool key(string_t& k) override {
    if (skipped_ > 0) return true;
    key_ = k;
    if (depth_ == 2) unit_key_ = k;
    return true;
  }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception&) override {
    if (reason_.empty()) reason_ = "not valid JSON";
    return false;
  }

 private:
  enum class Kind { kIndex, kOther };

  bool IsIndex() const {
    return skipped_ == 0 && (key_ == "last_index" || key_ == "log_first");
  }
  // Enters an array or object that is not read.
  bool Skip() {
    ++skipped_;
    ++depth_;
    return true;
  }
  bool Value(Kind kind, uint64_t n = 0) {
    if (skipped_ > 0) return true;
    if (depth_ == 0) return Fail("not a JSON object");
    if (depth_ == 1 && key_ == "units") return Fail("no \"units\" object");
    if (depth_ == 2) return Fail();
    if (depth_ == 3 && IsIndex()) {
      if (kind != Kind::kIndex || n > std::numeric_limits<uint32_t>::max()) {
        return Fail();
      }
      if (key_ == "last_index") {
        record_.last_index = static_cast<uint32_t>(n);
        have_last_ = true;
      } else {
        record_.log_first = static_cast<uint32_t>(n);
        have_first_ = true;
      }
    }
    return true;
  }
  // Ends the parse: a bad record of the unit under way, or `reason`.
  bool Fail(const std::string& reason = "") {
    if (reason_.empty()) {
      reason_ =
          reason.empty() ? "bad record for \"" + unit_key_ + "\"" : reason;
    }
    return false;
  }

  std::map<std::string, SinceRecord>& units_;
  int depth_ = 0;    // objects and arrays open
  int skipped_ = 0;  // of those, inside members not read
  std::string key_;  // the last key at the current depth
  std::string unit_key_;
  SinceRecord record_;
  bool have_last_ = false;
  bool have_first_ = false;
  bool version_ok_ = false;
  bool units_seen_ = false;
  std::string reason_;
};

}  // namespace

std::string ParseStateText(const std::string& text,
                           std::map<std::string, SinceRecord>& units) {
  units.clear();
  StateHandler handler(units);
  Json::sax_parse(text, &handler);
  std::string verdict = handler.Verdict();
  if (!verdict.empty()) units.clear();
  return verdict;
}
