// Small in-memory stand-ins for what the extractor reaches outside itself:
// a scripted repository, log managers, and a listener that records lines.
#ifndef KRTLOGS_TESTS_APP_EXTRACTOR_FAKES_H_
#define KRTLOGS_TESTS_APP_EXTRACTOR_FAKES_H_

#include <limits.h>
#include <stdint.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/krt_log_extractor.h"
#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {

class RecordingListener : public CKRTLogExtractor::CListener {
 public:
  void OnMessage(const std::string& message) override {
    lines.push_back(message);
  }
  std::vector<std::string> lines;
};

// Keys become visible from a given query on (1 = the first keys_get);
// keys_get appends the visible keys in the order they were added.
class FakeRepository : public qo::pm::repository_if_t {
 public:
  void Add(const std::string& key, const std::string& value,
           int from_query = 1) {
    keys_.push_back({key, from_query});
    values_[key] = value;
  }
  void FailValueGet(const std::string& key) { failing_.insert(key); }

  int queries = 0;
  std::vector<std::string> patterns;
  // Run at the start of each call (with the query's number for keys_get):
  // they may throw, or set `swallowed` as the pump does when it hides a
  // transport failure, and the call then answers nothing.
  std::function<void(int)> before_keys_get;
  std::function<void()> before_value_get;
  std::exception_ptr swallowed;  // the last call's hidden failure

  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool) override {
    ++queries;
    patterns.push_back(pattern);
    swallowed = nullptr;
    if (before_keys_get) before_keys_get(queries);
    if (swallowed) return;
    for (const auto& k : keys_) {
      if (k.second <= queries) keys.push_back(k.first);
    }
  }
  bool value_get(const std::string& key, std::string& value) override {
    swallowed = nullptr;
    if (before_value_get) before_value_get();
    if (swallowed) return false;
    if (failing_.count(key) != 0 || values_.count(key) == 0) return false;
    value = values_[key];
    return true;
  }
  void publish(const std::string&, const std::string&) override {}
  void publish_ex(const std::string&, const std::string&, int32_t) override {}
  void unpublish(const std::string&) override {}
  void notify(const std::string&, const std::string&, uint32_t,
              int32_t) override {}
  void notify_ex(const std::string&, const std::string&, const std::string&,
                 uint32_t, int32_t) override {}
  void ping() override {}

 private:
  std::vector<std::pair<std::string, int>> keys_;
  std::map<std::string, std::string> values_;
  std::set<std::string> failing_;
};

// One unit's log as its manager serves it, with optional faults.
struct FakeUnit {
  uint32_t first = 0;
  uint32_t last = 0;
  qo::log::log_entry_list_t entries;  // what get_last answers
  bool fail_range = false;
  bool fail_get_last = false;
  // A streamed get_last fails after this many entries reached the sink, or
  // is refused as a reply too large for the wire (a plain get_last, as a
  // small sample, is not).
  size_t fail_after = SIZE_MAX;
  bool too_large = false;
  bool fail_clear = false;
  int get_last_calls = 0;
  uint32_t asked = 0;
  int cleared = 0;
};

class FakeManager : public qo::log::manager_if_t {
 public:
  FakeManager(FakeUnit* unit, std::atomic<int>* live)
      : unit_(unit), live_(live) {
    ++*live_;
  }
  ~FakeManager() override { --*live_; }

  void range(uint32_t& first, uint32_t& last) override {
    if (unit_->fail_range) throw qo::errorcode_t(0x20000403);
    first = unit_->first;
    last = unit_->last;
  }
  void get_last(uint32_t count, qo::log::log_entry_list_t& out) override {
    ++unit_->get_last_calls;
    unit_->asked = count;
    if (unit_->fail_get_last) throw qo::corba::exception_t("lost the unit");
    out = unit_->entries;
  }
  void stream_last(uint32_t count, qo::log::entry_sink_t& sink) override {
    if (unit_->too_large) {
      qo::corba::system_exception_info_t info;
      info.name = "MARSHAL";
      info.minor = 0x41540045;
      info.minor_name = "MARSHAL_MessageSizeExceedLimit";
      info.completed = qo::corba::completion_t::yes;
      throw qo::corba::exception_t(info.text(), info);
    }
    if (unit_->fail_after == SIZE_MAX) {
      manager_if_t::stream_last(count, sink);
      return;
    }
    sink.begin(static_cast<uint32_t>(unit_->entries.size()));
    size_t sent = 0;
    for (const qo::log::log_entry_t& entry : unit_->entries) {
      if (sent++ == unit_->fail_after) {
        throw qo::corba::exception_t("lost the unit");
      }
      sink.entry(entry);
    }
  }
  void clear_logs() override {
    if (unit_->fail_clear) throw qo::sec::access_denied_t();
    ++unit_->cleared;
  }
  void get_since(uint32_t, uint32_t, qo::log::log_entry_list_t&) override {}
  bool find_relative(qo::log::log_entry_t&, uint32_t, int32_t, int32_t,
                     int32_t) override {
    return false;
  }
  bool find_previous(qo::log::log_entry_t&, uint32_t, int32_t,
                     int32_t) override {
    return false;
  }
  bool find_next(qo::log::log_entry_t&, uint32_t, int32_t, int32_t) override {
    return false;
  }
  void post(const qo::log::log_entry_list_t&,
            const qo::log::log_time_t&) override {}

 private:
  FakeUnit* unit_;
  std::atomic<int>* live_;
};

// Units by reference text; an unknown reference cannot be made into an
// object, as with a real ORB. Objects may be made on several threads at
// once; each unit's object is used by one at a time.
class FakeFleet {
 public:
  FakeUnit& Unit(const std::string& ior) { return units_[ior]; }
  std::atomic<int> live{0};  // manager objects not yet deleted
  std::vector<std::string> created;

  CKRTLogExtractor::ManagerFactory Factory() {
    return [this](const std::string& ior) {
      std::lock_guard<std::mutex> lock(mutex_);
      created.push_back(ior);
      auto it = units_.find(ior);
      if (it == units_.end()) {
        throw qo::exception_t(
            std::string("orb_t:: could not get remote object reference"));
      }
      return std::unique_ptr<qo::log::manager_if_t>(
          new FakeManager(&it->second, &live));
    };
  }

 private:
  std::mutex mutex_;
  std::map<std::string, FakeUnit> units_;
};

inline qo::log::log_entry_t Entry(uint32_t index, int32_t severity,
                                  const std::string& who,
                                  const std::string& what) {
  qo::log::log_entry_t e;
  e.index = index;
  e.severity = severity;
  e.s_who = who;
  e.s_what = what;
  e.when = {2007, 3, 7, 14, 5, 9, 0};
  return e;
}

// Runs each case in a fresh current directory, where the files land.
class ExtractorTest : public testing::Test {
 protected:
  ExtractorTest()
      : extractor_(&listener_, &repository_, fleet_.Factory(), 0,
                   diagnostics_) {
    char cwd[PATH_MAX];
    EXPECT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    saved_cwd_ = cwd;
    EXPECT_EQ(0, chdir(dir_.path().c_str()));
  }
  ~ExtractorTest() override { EXPECT_EQ(0, chdir(saved_cwd_.c_str())); }

  // Publishes a unit and returns its log to fill in.
  FakeUnit& AddUnit(const std::string& address, uint32_t first, uint32_t last) {
    std::string ior = "IOR:" + address;
    repository_.Add(address + "/log_man_v1", ior);
    FakeUnit& unit = fleet_.Unit(ior);
    unit.first = first;
    unit.last = last;
    return unit;
  }

  void Discover(int count) {
    ASSERT_TRUE(extractor_.FindKRTs(count));
    listener_.lines.clear();
  }

  testing_support::TempDir dir_;
  std::string saved_cwd_;
  FakeRepository repository_;
  FakeFleet fleet_;
  RecordingListener listener_;
  std::ostringstream diagnostics_;
  CKRTLogExtractor extractor_;
};

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_EXTRACTOR_FAKES_H_
