// A published log manager whose logon sessions are still open when the
// ORB shuts down: the POA lets go of every servant at once, and the
// process must neither hang, crash nor leak a session's implementation.
// Runs in a child process, since a stopped ORB cannot start again.
#include <atomic>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/log/log_module.h"
#include "tests/support/process.h"

namespace qo::log {
namespace {

std::atomic<int> alive{0};

class session_counting_t : public manager_if_t {
 public:
  session_counting_t() { ++alive; }
  ~session_counting_t() override { --alive; }
  void get_since(uint32_t, uint32_t, log_entry_list_t&) override {}
  void get_last(uint32_t, log_entry_list_t&) override {}
  bool find_relative(log_entry_t&, uint32_t, int32_t, int32_t,
                     int32_t) override {
    return false;
  }
  bool find_previous(log_entry_t&, uint32_t, int32_t, int32_t) override {
    return false;
  }
  bool find_next(log_entry_t&, uint32_t, int32_t, int32_t) override {
    return false;
  }
  void range(uint32_t&, uint32_t&) override {}
  void post(const log_entry_list_t&, const log_time_t&) override {}
  void clear_logs() override {}
  manager_if_t* logon(const std::string&, const std::string&) override {
    return new session_counting_t;
  }
};

TEST(LogServantShutdownTest, OpenSessionsGoWithTheOrb) {
  EXPECT_EQ("alive 3, withdrawn 0", testing_support::RunInChild([] {
              corba::orb_t::init("iiop://127.0.0.1", false, 2);
              corba::orb_t::start_instance();
              auto* published = new session_counting_t;  // alive 1
              std::string ior;
              servant_add(published, ior, "");
              std::unique_ptr<manager_if_t> proxy(proxy_create(ior.c_str()));
              std::unique_ptr<manager_if_t> a(proxy->logon("u", "p"));
              std::unique_ptr<manager_if_t> b(a->logon("u", "p"));
              const int before = alive;
              corba::orb_t::stop_instance();
              // Withdrawing the published servant after the stop takes its
              // sessions with it, and here its implementation too.
              servant_remove(published, true);
              std::string report = "alive " + std::to_string(before) +
                                   ", withdrawn " + std::to_string(alive);
              a.reset();
              b.reset();
              corba::orb_t::destroy();
              return report;
            }));
}

}  // namespace
}  // namespace qo::log
