// The ORB singleton's life: init, get, start, stop, destroy. The singleton
// is process-wide and a stopped ORB cannot run again, so every case runs in
// a child process of its own and reports what it found as text ("" when
// all held).
#include <omniORB4/CORBA.h>
#include <omniORB4/omniORB.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/corba/thread_manager.h"
#include "tests/runtime/corba/probe.h"
#include "tests/support/process.h"

namespace qo::corba {
namespace {

using testing_support::RunInChild;

// What `f` throws, as text; "no exception" when it returns.
std::string Thrown(const std::function<void()>& f) {
  try {
    f();
    return "no exception";
  } catch (const std::exception& e) {
    return e.what();
  } catch (const CORBA::SystemException& e) {
    return std::string("CORBA::") + e._name();
  }
}

// Collects the mismatches of one child's checks.
class report_t {
 public:
  void equal(const std::string& expected, const std::string& actual,
             const char* what) {
    if (expected != actual) {
      text_ += std::string(what) + ": expected \"" + expected + "\", got \"" +
               actual + "\"\n";
    }
  }
  void check(bool condition, const char* what) {
    if (!condition) text_ += std::string(what) + "\n";
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

const char kNoSingleton[] = "orb_t::get - singleton does not exist";

TEST(OrbLifecycleTest, GetWithoutInit) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              r.equal(kNoSingleton, Thrown([] { orb_t::get(); }), "get");
              r.equal(kNoSingleton, Thrown([] { orb_t::start_instance(); }),
                      "start_instance");
              r.equal(kNoSingleton,
                      Thrown([] { orb_t::set_round_trip_timeout(100); }),
                      "set_round_trip_timeout");
              r.equal("no exception", Thrown([] { orb_t::destroy(); }),
                      "destroy");
              return r.text();
            }));
}

TEST(OrbLifecycleTest, InitTwiceKeepsTheFirst) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              orb_t::init("iiop://127.0.0.1", false, 2);
              orb_t* first = &orb_t::get();
              r.equal("orb_t::init - singleton already exists",
                      Thrown([] { orb_t::init("iiop://127.0.0.1", true, 0); }),
                      "second init");
              r.check(first == &orb_t::get(), "singleton replaced");
              orb_t::start_instance();
              r.check(!CORBA::is_nil(orb_t::get().root_poa()), "root poa");
              orb_t::destroy();
              r.equal(kNoSingleton, Thrown([] { orb_t::get(); }), "get");
              return r.text();
            }));
}

TEST(OrbLifecycleTest, EndpointOf257CharactersStoresNothing) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              std::string endpoint = "iiop://127.0.0.1:";
              endpoint += std::string(257 - endpoint.size(), '0');
              r.equal("endpoint string too long",
                      Thrown([&] { orb_t::init(endpoint, false, 1); }), "init");
              r.equal(kNoSingleton, Thrown([] { orb_t::get(); }), "get");
              return r.text();
            }));
}

TEST(OrbLifecycleTest, EndpointOf256CharactersServes) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              std::string endpoint = "iiop://127.0.0.1:";
              endpoint += std::string(256 - endpoint.size(), '0');
              orb_t::init(endpoint, false, 1);
              orb_t::start_instance();
              probe::probe_t imp;
              std::string ior;
              probe::module_t::servant_add(&imp, ior, "k");
              std::string host;
              uint16_t port = 0;
              r.check(probe::ior_address(ior, host, port), "ior readable");
              r.equal("127.0.0.1", host, "published host");
              r.check(port != 0, "a port was chosen");
              probe::module_t::servant_remove(&imp, false);
              orb_t::destroy();
              return r.text();
            }));
}

TEST(OrbLifecycleTest, OrbInitFailureStoresNothing) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              // omniORB also reads its options from the environment.
              setenv("ORBInitRef", "not-an-assignment", 1);
              r.equal("CORBA::INITIALIZE",
                      Thrown([] { orb_t::init("iiop://127.0.0.1", false, 1); }),
                      "init");
              r.equal(kNoSingleton, Thrown([] { orb_t::get(); }), "get");
              return r.text();
            }));
}

TEST(OrbLifecycleTest, StartAndStopAreIdempotent) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              testing::internal::CaptureStdout();
              orb_t::init("iiop://127.0.0.1", false, 6);
              orb_t& orb = orb_t::get();
              orb.stop();  // before any start: nothing
              orb.start();
              orb.start();
              orb.stop();
              orb.stop();
              r.equal("orb_t::start - the orb has been stopped",
                      Thrown([&] { orb.start(); }), "start after stop");
              orb_t::destroy();
              // The six loops ended quietly, also those that only reached
              // the loop after the shutdown.
              r.equal("", testing::internal::GetCapturedStdout(), "stdout");
              return r.text();
            }));
}

TEST(OrbLifecycleTest, DestroyAllowsANewSingleton) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              orb_t::init("iiop://127.0.0.1", false, 2);
              orb_t::start_instance();
              orb_t::destroy();
              r.equal(kNoSingleton, Thrown([] { orb_t::get(); }), "get");
              orb_t::init("iiop://127.0.0.1", false, 2);
              orb_t::start_instance();
              probe::probe_t imp;
              std::string ior;
              probe::module_t::servant_add(&imp, ior, "again");
              probe::probe_if_t* proxy = probe::module_t::proxy_create(
                  probe::corbaloc_of(ior, "again").c_str());
              uint32_t pid = 0;
              uint32_t calls = 0;
              proxy->whoami(pid, calls);
              r.check(calls == 1, "call through the new ORB");
              delete proxy;
              orb_t::destroy();
              return r.text();
            }));
}

TEST(OrbLifecycleTest, HostNameIsPublishedAsItsAddress) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              orb_t::init("iiop://localhost", false, 1);
              orb_t::start_instance();
              probe::probe_t imp;
              std::string ior;
              probe::module_t::servant_add(&imp, ior, "");
              std::string host;
              uint16_t port = 0;
              r.check(probe::ior_address(ior, host, port), "ior readable");
              r.equal("127.0.0.1", host, "published host");
              orb_t::destroy();
              return r.text();
            }));
}

TEST(OrbLifecycleTest, ServantsOutliveTheStop) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              orb_t::init("iiop://127.0.0.1", false, 1);
              orb_t::start_instance();
              std::string ior;
              auto* owned = new probe::probe_t;
              auto* kept = new probe::probe_t;
              probe::module_t::servant_add(owned, ior, "owned");
              probe::module_t::servant_add(kept, ior, "kept");
              orb_t::stop_instance();
              // The POA is gone; withdrawing still honours the delete flag.
              probe::module_t::servant_remove(owned, true);
              r.check(probe::probe_t::live() == 1, "owned deleted");
              // Destroying the singleton releases the rest, without
              // deleting implementations it was not told to.
              orb_t::destroy();
              r.check(probe::probe_t::live() == 1, "kept alive");
              delete kept;
              return r.text();
            }));
}

TEST(OrbLifecycleTest, AnOrbPassingStringsAsSentPublishesNothing) {
  EXPECT_EQ("", RunInChild([] {
              report_t r;
              orb_t::init("iiop://127.0.0.1", false, 1, char_codes_t::as_sent);
              orb_t::start_instance();
              probe::probe_t imp;
              std::string ior;
              r.equal(
                  "servant_add: an ORB that passes strings as sent serves no "
                  "objects",
                  Thrown([&] { probe::module_t::servant_add(&imp, ior, "k"); }),
                  "servant_add");
              r.check(ior.empty(), "no reference handed out");
              r.equal("servant_remove: key not found",
                      Thrown([&] { probe::module_t::servant_remove(&imp, 0); }),
                      "nothing registered");
              orb_t::destroy();
              return r.text();
            }));
}

// Loops on the nil ORB fail at once. omniORB would also log each such call
// on standard error, from several threads through localtime(3); the tests
// turn its logging off.
class ThreadManagerTest : public testing::Test {
 protected:
  void SetUp() override { omniORB::traceLevel = 0; }
};

TEST_F(ThreadManagerTest, FailingLoopPrintsOneLinePerThread) {
  testing::internal::CaptureStdout();
  {
    orb_t::thread_manager_t manager(3);
    manager.start(CORBA::ORB::_nil());
    manager.start(CORBA::ORB::_nil());  // running: nothing more
    manager.stop();
  }
  const std::string line =
      "fatal exception in corba orb thread function: SystemException (VMCID "
      "!= TAO_DEFAULT_MINOR_CODE) : INV_OBJREF (INV_OBJREF_InvokeOnNilObjRef, "
      "completed = NO)\n";
  EXPECT_EQ(line + line + line, testing::internal::GetCapturedStdout());
}

TEST_F(ThreadManagerTest, RestartsAfterStop) {
  testing::internal::CaptureStdout();
  orb_t::thread_manager_t manager(1);
  manager.start(CORBA::ORB::_nil());
  manager.stop();
  manager.start(CORBA::ORB::_nil());
  manager.stop();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(2u, std::count(out.begin(), out.end(), '\n')) << out;
}

TEST_F(ThreadManagerTest, CountZeroStartsNothing) {
  testing::internal::CaptureStdout();
  orb_t::thread_manager_t manager(0);
  manager.start(CORBA::ORB::_nil());
  manager.stop();
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

}  // namespace
}  // namespace qo::corba
