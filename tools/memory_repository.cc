#include "tools/memory_repository.h"

bool PatternMatches(const std::string& pattern, const std::string& text) {
  // Greedy walk with one backtrack point: the last star seen and where in
  // the text it started to match. Linear in practice, quadratic at worst.
  size_t p = 0;
  size_t t = 0;
  size_t star = std::string::npos;
  size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void memory_repository_t::publish(const std::string& key,
                                  const std::string& value) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_[key] = value;
}

void memory_repository_t::publish_ex(const std::string& key,
                                     const std::string& value, int32_t) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_[key] = value;
}

void memory_repository_t::unpublish(const std::string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.erase(key);
}

bool memory_repository_t::value_get(const std::string& key,
                                    std::string& value) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = entries_.find(key);
  if (found == entries_.end()) return false;
  value = found->second;
  return true;
}

void memory_repository_t::keys_get(const std::string& pattern,
                                   std::list<std::string>& keys, bool) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& entry : entries_) {
    if (PatternMatches(pattern, entry.first)) keys.push_back(entry.first);
  }
}

void memory_repository_t::notify(const std::string&, const std::string&,
                                 uint32_t, int32_t) {}

void memory_repository_t::notify_ex(const std::string&, const std::string&,
                                    const std::string&, uint32_t, int32_t) {}

void memory_repository_t::ping() {}
