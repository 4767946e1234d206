// An in-process stand-in for a remote repository: a server whose state the
// test controls (up, down, restarted empty) and proxies that fail as real
// ones do, with qo::corba::exception_t, once their server has gone.
#ifndef KRTLOGS_TESTS_RUNTIME_PM_FAKE_REPOSITORY_H_
#define KRTLOGS_TESTS_RUNTIME_PM_FAKE_REPOSITORY_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/error/exception.h"
#include "runtime/pm/repository_if.h"

namespace qo::pm::testing {

class FakeServer {
 public:
  // Every request, as "op key" lines, in arrival order.
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
  }
  int Count(const std::string& op) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const std::string& line : log_) n += line.rfind(op, 0) == 0;
    return n;
  }
  std::map<std::string, std::string> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  void Set(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[key] = value;
  }
  void Erase(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(key);
  }
  // Every connection and request fails until Restart.
  void Down() {
    std::lock_guard<std::mutex> lock(mutex_);
    down_ = true;
    ++generation_;
  }
  // Back up with no entries; connections made before stay broken.
  void Restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    down_ = false;
    entries_.clear();
    ++generation_;
  }
  // The next request answers with this error code.
  void FailNext(uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_code_ = code;
  }
  int connects() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connects_;
  }

  // A connector for velto_pump_t / a factory for the remote link.
  repository_if_t* Connect();

 private:
  friend class FakeProxy;

  // Checks that a proxy of `generation` may talk and logs the request.
  void Enter(int generation, const std::string& line) {
    if (down_ || generation != generation_) {
      throw qo::corba::exception_t("failed to recv request response");
    }
    log_.push_back(line);
    if (fail_code_ != 0) {
      uint32_t code = fail_code_;
      fail_code_ = 0;
      throw qo::errorcode_t(code);
    }
  }

  std::mutex mutex_;
  bool down_ = false;
  int generation_ = 0;
  int connects_ = 0;
  uint32_t fail_code_ = 0;
  std::map<std::string, std::string> entries_;
  std::vector<std::string> log_;
};

class FakeProxy : public repository_if_t {
 public:
  FakeProxy(FakeServer& server, int generation)
      : server_(server), generation_(generation) {}

  void publish(const std::string& key, const std::string& value) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "publish " + key);
    server_.entries_[key] = value;
  }
  void publish_ex(const std::string& key, const std::string& value,
                  int32_t option) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_,
                  "publish_ex " + key + " " + std::to_string(option));
    server_.entries_[key] = value;
  }
  void unpublish(const std::string& key) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "unpublish " + key);
    server_.entries_.erase(key);
  }
  bool value_get(const std::string& key, std::string& value) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "value_get " + key);
    auto it = server_.entries_.find(key);
    if (it == server_.entries_.end()) return false;
    value = it->second;
    return true;
  }
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "keys_get " + pattern);
    std::string suffix = pattern.substr(1);  // patterns are "*suffix"
    for (const auto& entry : server_.entries_) {
      const std::string& k = entry.first;
      if (k.size() >= suffix.size() &&
          k.compare(k.size() - suffix.size(), suffix.size(), suffix) == 0) {
        keys.push_back(k);
      }
    }
  }
  void notify(const std::string& s1, const std::string&, uint32_t,
              int32_t) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "notify " + s1);
  }
  void notify_ex(const std::string& s1, const std::string&, const std::string&,
                 uint32_t, int32_t) override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "notify_ex " + s1);
  }
  void ping() override {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.Enter(generation_, "ping");
  }

 private:
  FakeServer& server_;
  int generation_;
};

inline repository_if_t* FakeServer::Connect() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (down_) throw qo::corba::exception_t("TRANSIENT");
  ++connects_;
  return new FakeProxy(*this, generation_);
}

}  // namespace qo::pm::testing

#endif  // KRTLOGS_TESTS_RUNTIME_PM_FAKE_REPOSITORY_H_
