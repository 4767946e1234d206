// A repository server for the pump's tests: velto-repo's store on
// ADDRESS:4000 under the key "velto", printing every request it gets as one
// line ("publish KEY VALUE", "publish_ex KEY VALUE OPTION", "unpublish
// KEY", "value_get KEY", "keys_get PATTERN", "notify S1", "notify_ex S1",
// "ping") after a first line "ready". SIGTERM stops it.
// Usage: recording_repo ADDRESS
#include <iostream>
#include <mutex>
#include <string>

#include "runtime/corba/orb.h"
#include "runtime/pm/pm_module.h"
#include "tools/memory_repository.h"
#include "tools/stop_signals.h"

namespace {

class recording_repository_t : public memory_repository_t {
 public:
  void publish(const std::string& key, const std::string& value) override {
    Print("publish " + key + " " + value);
    memory_repository_t::publish(key, value);
  }
  void publish_ex(const std::string& key, const std::string& value,
                  int32_t option) override {
    Print("publish_ex " + key + " " + value + " " + std::to_string(option));
    memory_repository_t::publish_ex(key, value, option);
  }
  void unpublish(const std::string& key) override {
    Print("unpublish " + key);
    memory_repository_t::unpublish(key);
  }
  bool value_get(const std::string& key, std::string& value) override {
    Print("value_get " + key);
    return memory_repository_t::value_get(key, value);
  }
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool flag) override {
    Print("keys_get " + pattern);
    memory_repository_t::keys_get(pattern, keys, flag);
  }
  void notify(const std::string& s1, const std::string&, uint32_t,
              int32_t) override {
    Print("notify " + s1);
  }
  void notify_ex(const std::string& s1, const std::string&, const std::string&,
                 uint32_t, int32_t) override {
    Print("notify_ex " + s1);
  }
  void ping() override { Print("ping"); }

 private:
  void Print(const std::string& line) {
    std::lock_guard<std::mutex> guard(print_lock_);
    std::cout << line << std::endl;
  }
  std::mutex print_lock_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: recording_repo ADDRESS" << std::endl;
    return 2;
  }
  const sigset_t signals = BlockStopSignals();
  recording_repository_t repository;
  try {
    qo::corba::orb_t::init(std::string("iiop://") + argv[1] + ":4000", false,
                           0);
    qo::corba::orb_t::start_instance();
    std::string ior;
    qo::pm::servant_add(&repository, ior, "velto");
    std::cout << "ready" << std::endl;
    WaitForStopSignal(signals, -1);
    qo::pm::servant_remove(&repository, false);
    qo::corba::orb_t::destroy();
  } catch (const std::exception& e) {
    std::cerr << "recording_repo: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
