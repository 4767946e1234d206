// Discovery: polls the repository for the keys units publish and records
// the units found, sorted by address.
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <set>

#include "app/krt_log_extractor.h"
#include "app/text_escape.h"

namespace {

using qo::log::kManagerKeySuffix;
const std::string kSearchPattern = std::string("*") + kManagerKeySuffix;
constexpr int kScans = 10;

// The address part of a unit's key; false for keys without the suffix.
bool AddressText(const std::string& key, std::string& text) {
  size_t at = key.find(kManagerKeySuffix);
  if (at == std::string::npos) return false;
  text = key.substr(0, at);
  return true;
}

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

}  // namespace

uint32_t CKRTLogExtractor::ParseAddress(const std::string& text,
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

CKRTLogExtractor::SKRTRecord CKRTLogExtractor::MakeRecord(
    const std::string& key) {
  SKRTRecord record;
  record.key = key;
  // A failed lookup leaves the reference empty, so that this unit fails on
  // its own instead of reading another unit's log.
  std::string value;
  if (repository_->value_get(key, value)) record.ior = value;
  record.address = ParseAddress(key, record.name);
  return record;
}

void CKRTLogExtractor::Insert(const SKRTRecord& record) {
  auto it = units_.begin();
  while (it != units_.end() && it->address <= record.address) ++it;
  units_.insert(it, record);
}

void CKRTLogExtractor::Pause() {
  if (pause_microseconds_ > 0) usleep(pause_microseconds_);
}

bool CKRTLogExtractor::FindKRT(std::string address) {
  std::list<std::string> keys;
  Report("Searching for Velto Keys");
  repository_->keys_get(kSearchPattern, keys, false);
  for (int remaining = kScans;;) {
    for (const std::string& key : keys) {
      std::string text;
      if (!AddressText(key, text) || text != address) continue;
      Report("Found KRT at " + EscapeControlCharacters(text));
      Insert(MakeRecord(key));
      return true;
    }
    if (--remaining == 0) return false;
    Pause();
    repository_->keys_get(kSearchPattern, keys, false);
  }
}

bool CKRTLogExtractor::FindKRTs(int count) {
  int found = 0;
  int remaining = kScans;
  std::list<std::string> keys;
  std::set<std::string> recorded;
  for (const SKRTRecord& unit : units_) recorded.insert(unit.key);
  Report("Searching for Velto Keys");
  repository_->keys_get(kSearchPattern, keys, false);
  while (found < count) {
    for (const std::string& key : keys) {
      std::string text;
      if (recorded.count(key) != 0 || !AddressText(key, text)) continue;
      Report("Found an KRT at " + EscapeControlCharacters(text));
      Insert(MakeRecord(key));
      recorded.insert(key);
      if (++found >= count) break;
    }
    if (--remaining == 0) break;
    Pause();
    repository_->keys_get(kSearchPattern, keys, false);
  }
  return found == count;
}
