// An in-memory Velto repository: the store behind velto-repo. Keys map to
// values; publish and publish_ex store (the option is ignored),
// unpublish removes, value_get of an unknown key answers false, keys_get
// appends the matching keys in ascending order. In a pattern "*" stands
// for any text, empty included, anywhere in the pattern; every other
// character matches itself. notify, notify_ex and ping are accepted and do
// nothing. Safe for concurrent calls from any thread.
#ifndef KRTLOGS_TOOLS_MEMORY_REPOSITORY_H_
#define KRTLOGS_TOOLS_MEMORY_REPOSITORY_H_

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "runtime/pm/repository_if.h"

// Whether `text` matches `pattern` as described above.
bool PatternMatches(const std::string& pattern, const std::string& text);

class memory_repository_t : public qo::pm::repository_if_t {
 public:
  void publish(const std::string& key, const std::string& value) override;
  void publish_ex(const std::string& key, const std::string& value,
                  int32_t option) override;
  void unpublish(const std::string& key) override;
  bool value_get(const std::string& key, std::string& value) override;
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool flag) override;
  void notify(const std::string& s1, const std::string& s2, uint32_t n,
              int32_t p) override;
  void notify_ex(const std::string& s1, const std::string& s2,
                 const std::string& s3, uint32_t n, int32_t p) override;
  void ping() override;

 private:
  std::mutex lock_;
  std::map<std::string, std::string> entries_;  // guarded by lock_
};

#endif  // KRTLOGS_TOOLS_MEMORY_REPOSITORY_H_
