// Real ORBs talking over loopback: this process runs one ORB for all its
// cases (a test environment) and publishes probes of its own for collocated
// calls; each case starts a test server process that publishes a probe
// under a key on a port the system chose.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "tests/runtime/corba/probe.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace qo::corba {
namespace {

using testing_support::BackgroundProcess;
using testing_support::TempDir;

constexpr int kStartupMs = 30000;  // a bound for slow machines, not a timing
// Ended early by a release or the server's stop; bounds a failing case.
constexpr uint32_t kLongHangMs = 60000;

class OrbEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    orb_t::init("iiop://127.0.0.1", false, 4);
    orb_t::start_instance();
  }
  void TearDown() override { orb_t::destroy(); }
};

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new OrbEnvironment);

const std::string kOther =
    "SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : ";

// A test server process with a probe published under a key.
class server_t {
 public:
  server_t(const TempDir& dir, const std::string& key, unsigned threads)
      : output_(dir.File(key + ".out")),
        process_({CORBA_TEST_SERVER, key, std::to_string(threads)}, output_) {
    ready_ = process_.WaitForOutput("ready\n", kStartupMs);
    std::istringstream lines(process_.Output());
    std::string word;
    while (lines >> word) {
      if (word == "ior") lines >> ior_;
      if (word == "corbaloc") lines >> corbaloc_;
    }
  }

  bool ready() const { return ready_ && !ior_.empty() && !corbaloc_.empty(); }
  const std::string& ior() const { return ior_; }
  const std::string& corbaloc() const { return corbaloc_; }
  pid_t pid() const { return process_.pid(); }

  // Asks the server to withdraw its probe and waits until it has.
  bool remove() {
    kill(process_.pid(), SIGUSR1);
    return process_.WaitForOutput("removed\n", kStartupMs);
  }
  // Waits until `n` calls hang in the server's probe.
  bool hanging(size_t n) {
    const std::string line = "hanging\n";
    std::string expected;
    for (size_t i = 0; i < n; ++i) expected += line;
    return process_.WaitForOutput(expected, kStartupMs);
  }
  // The server's exit status; its output goes to the test log when that is
  // not 0, so that sanitizer reports of the server show.
  int stop(int signal) {
    int status = process_.Stop(signal);
    if (status != 0 && signal != SIGKILL) std::cerr << process_.Output();
    return status;
  }

 private:
  std::string output_;
  BackgroundProcess process_;
  bool ready_ = false;
  std::string ior_;
  std::string corbaloc_;
};

class RemoteTest : public testing::Test {
 protected:
  std::unique_ptr<probe::probe_if_t> Proxy(const std::string& address) {
    return std::unique_ptr<probe::probe_if_t>(
        probe::module_t::proxy_create(address.c_str()));
  }

  TempDir dir_;
};

TEST_F(RemoteTest, PublishedKeyIsReachedByCorbaloc) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  std::unique_ptr<probe::probe_if_t> by_key = Proxy(server.corbaloc());
  std::unique_ptr<probe::probe_if_t> by_ior = Proxy(server.ior());
  uint32_t pid = 0;
  uint32_t calls = 0;
  by_key->whoami(pid, calls);
  EXPECT_EQ(static_cast<uint32_t>(server.pid()), pid);
  EXPECT_EQ(1u, calls);
  by_ior->whoami(pid, calls);
  EXPECT_EQ(2u, calls);  // the same object
  EXPECT_TRUE(probe::module_t::proxy_servant_exists(by_key.get()));
  EXPECT_TRUE(probe::module_t::proxy_servant_exists(by_ior.get()));
  EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(RemoteTest, RemovedServantIsGone) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  std::unique_ptr<probe::probe_if_t> by_key = Proxy(server.corbaloc());
  std::unique_ptr<probe::probe_if_t> by_ior = Proxy(server.ior());
  ASSERT_TRUE(server.remove());

  const std::string gone =
      "corba|" + kOther +
      "OBJECT_NOT_EXIST (OBJECT_NOT_EXIST_NoMatch, completed = NO)";
  uint32_t pid = 0;
  uint32_t calls = 0;
  EXPECT_EQ(gone, probe::outcome_of([&] { by_key->whoami(pid, calls); }));
  EXPECT_EQ(gone, probe::outcome_of([&] { by_ior->whoami(pid, calls); }));
  EXPECT_FALSE(probe::module_t::proxy_servant_exists(by_key.get()));
  EXPECT_FALSE(probe::module_t::proxy_servant_exists(by_ior.get()));
  EXPECT_EQ(gone, probe::outcome_of([&] { Proxy(server.corbaloc()); }));
  EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(RemoteTest, WrongKeyDoesNotExist) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  std::string address = server.corbaloc();
  address.replace(address.rfind('/'), std::string::npos, "/nosuchkey");
  EXPECT_EQ("corba|" + kOther +
                "OBJECT_NOT_EXIST (OBJECT_NOT_EXIST_NoMatch, completed = NO)",
            probe::outcome_of([&] { Proxy(address); }));
  EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(RemoteTest, ConnectionRefused) {
  // A bound socket that does not listen: connections to it are refused.
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0,
            bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  socklen_t length = sizeof(address);
  getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string corbaloc =
      "corbaloc:iiop:127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
      "/probe";
  EXPECT_EQ(
      "corba|" + kOther + "TRANSIENT (TRANSIENT_ConnectFailed, completed = NO)",
      probe::outcome_of([&] { Proxy(corbaloc); }));
  close(sock);
}

TEST_F(RemoteTest, HungServantTimesOut) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  std::unique_ptr<probe::probe_if_t> proxy = Proxy(server.corbaloc());
  orb_t::set_round_trip_timeout(300);
  EXPECT_EQ("corba|" + kOther +
                "TIMEOUT (TIMEOUT_CallTimedOutOnClient, completed = MAYBE)",
            probe::outcome_of([&] { proxy->hang(kLongHangMs); }));
  orb_t::set_round_trip_timeout(0);
  // The server's ORB still works and the hung call can be let go.
  EXPECT_EQ("none", probe::outcome_of([&] { proxy->release(); }));
  EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(RemoteTest, PeerKilledMidCall) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  std::unique_ptr<probe::probe_if_t> proxy = Proxy(server.corbaloc());
  std::string outcome;
  std::thread caller(
      [&] { outcome = probe::outcome_of([&] { proxy->hang(kLongHangMs); }); });
  bool hung = server.hanging(1);
  server.stop(SIGKILL);
  caller.join();
  ASSERT_TRUE(hung);
  EXPECT_EQ("corba|" + kOther +
                "COMM_FAILURE (COMM_FAILURE_WaitingForReply, completed = "
                "MAYBE)",
            outcome);
}

TEST_F(RemoteTest, ConcurrentCallsToOneServerDoNotQueue) {
  // Thread per connection on the server: only the client could hold calls
  // back, and omniORB's default would hold the sixth.
  server_t server(dir_, "probe", 0);
  ASSERT_TRUE(server.ready());
  std::unique_ptr<probe::probe_if_t> proxy = Proxy(server.corbaloc());
  constexpr size_t kCalls = 8;
  std::vector<std::string> outcomes(kCalls);
  std::vector<std::thread> callers;
  for (size_t i = 0; i < kCalls; ++i) {
    callers.emplace_back([&, i] {
      outcomes[i] = probe::outcome_of([&] { proxy->hang(kLongHangMs); });
    });
  }
  bool all_hung = server.hanging(kCalls);
  // The server releases the hung calls before it stops; a release call of
  // our own could queue behind them.
  EXPECT_EQ(0, server.stop(SIGTERM));
  for (std::thread& t : callers) t.join();
  EXPECT_TRUE(all_hung);
  for (const std::string& o : outcomes) EXPECT_EQ("none", o);
}

// Every kind of failure a probe can raise, as a client sees it.
struct raised_t {
  const char* kind;
  uint32_t code;
  const char* text;
  std::string outcome;
};

std::vector<raised_t> RaiseTable() {
  return {
      {"errorcode", 0x20000401, "denied %s",
       "access_denied|access denied|536871937"},
      {"errorcode", 0x20000402, "logon %s",
       "logon_fail|invalid username or bad password|536871938"},
      {"errorcode", 0x20000403, "sec %s %n", "errorcode|sec %s %n|536871939"},
      {"exception", 0, "plain %s", "exception|plain %s"},
      {"std", 0, "std %s", "exception|std %s"},
      {"corba", 0, "lost %s", "exception|lost %s"},
      {"idl_errorcode", 0x20000101, "idl %s", "errorcode|idl %s|536871169"},
      {"idl_exception", 0, "idl %s", "exception|idl %s"},
      {"system", 0x54410100, "", "corba|send request failed, completed = YES"},
      {"system", 0x54410980, "",
       "corba|unknown location (2432), completed = YES"},
      {"user", 0, "", "exception|unknown exception from remote"},
      {"other", 0, "", "exception|unknown exception from remote"},
      {"nothing", 0, "", "none"},
  };
}

void ExpectRaiseTable(probe::probe_if_t* proxy, const char* path) {
  for (const raised_t& r : RaiseTable()) {
    EXPECT_EQ(r.outcome,
              probe::outcome_of([&] { proxy->raise(r.kind, r.code, r.text); }))
        << path << " " << r.kind << " " << std::hex << r.code;
  }
}

TEST_F(RemoteTest, FailuresTravelEndToEndRemote) {
  server_t server(dir_, "probe", 2);
  ASSERT_TRUE(server.ready());
  ExpectRaiseTable(Proxy(server.corbaloc()).get(), "remote");
  EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(RemoteTest, FailuresTravelEndToEndCollocated) {
  probe::probe_t imp;
  std::string ior;
  probe::module_t::servant_add(&imp, ior, "local");
  ExpectRaiseTable(Proxy(ior).get(), "collocated ior");
  ExpectRaiseTable(Proxy(probe::corbaloc_of(ior, "local")).get(),
                   "collocated corbaloc");
  probe::module_t::servant_remove(&imp, false);
}

TEST_F(RemoteTest, CollocatedKeyIsGoneAfterRemove) {
  probe::probe_t imp;
  std::string ior;
  probe::module_t::servant_add(&imp, ior, "local");
  const std::string corbaloc = probe::corbaloc_of(ior, "local");
  std::unique_ptr<probe::probe_if_t> proxy = Proxy(corbaloc);
  uint32_t pid = 0;
  uint32_t calls = 0;
  proxy->whoami(pid, calls);
  EXPECT_EQ(static_cast<uint32_t>(getpid()), pid);
  probe::module_t::servant_remove(&imp, false);
  EXPECT_FALSE(probe::module_t::proxy_servant_exists(proxy.get()));
  EXPECT_EQ("corba|" + kOther +
                "OBJECT_NOT_EXIST (OBJECT_NOT_EXIST_NoMatch, completed = NO)",
            probe::outcome_of([&] { Proxy(corbaloc); }));
  // The key is free again.
  probe::module_t::servant_add(&imp, ior, "local");
  EXPECT_TRUE(probe::module_t::proxy_servant_exists(Proxy(corbaloc).get()));
  probe::module_t::servant_remove(&imp, false);
}

TEST_F(RemoteTest, RegistryRefusals) {
  probe::probe_t first;
  probe::probe_t second;
  std::string ior;
  probe::module_t::servant_add(&first, ior, "shared");
  EXPECT_EQ("exception|servant_add: key already exists", probe::outcome_of([&] {
              probe::module_t::servant_add(&first, ior, "elsewhere");
            }));
  std::string untouched = "untouched";
  EXPECT_EQ("exception|servant_add: key already bound: shared",
            probe::outcome_of([&] {
              probe::module_t::servant_add(&second, untouched, "shared");
            }));
  EXPECT_EQ("untouched", untouched);
  // The refused publication left nothing behind.
  EXPECT_EQ("exception|servant_remove: key not found", probe::outcome_of([&] {
              probe::module_t::servant_remove(&second, false);
            }));
  probe::module_t::servant_add(&second, ior, "other");
  uint32_t pid = 0;
  uint32_t calls = 0;
  Proxy(probe::corbaloc_of(ior, "shared"))->whoami(pid, calls);
  Proxy(probe::corbaloc_of(ior, "other"))->whoami(pid, calls);
  EXPECT_EQ(1u, calls);  // each key reaches its own probe
  probe::module_t::servant_remove(&first, false);
  probe::module_t::servant_remove(&second, false);
  EXPECT_EQ("exception|servant_remove: key not found", probe::outcome_of([&] {
              probe::module_t::servant_remove(&first, false);
            }));
}

TEST_F(RemoteTest, EmptyKeyPublishesOnlyTheReference) {
  probe::probe_t imp;
  std::string ior;
  probe::module_t::servant_add(&imp, ior, "");
  uint32_t pid = 0;
  uint32_t calls = 0;
  Proxy(ior)->whoami(pid, calls);
  EXPECT_EQ(1u, calls);
  EXPECT_EQ("corba|" + kOther +
                "OBJECT_NOT_EXIST (OBJECT_NOT_EXIST_NoMatch, completed = NO)",
            probe::outcome_of([&] { Proxy(probe::corbaloc_of(ior, "")); }));
  probe::module_t::servant_remove(&imp, false);
}

TEST_F(RemoteTest, RemoveWithDeleteFlagDeletesTheImplementation) {
  const int before = probe::probe_t::live();
  auto* owned = new probe::probe_t;
  auto* kept = new probe::probe_t;
  std::string ior;
  probe::module_t::servant_add(owned, ior, "owned");
  probe::module_t::servant_add(kept, ior, "");
  probe::module_t::servant_remove(owned, true);
  probe::module_t::servant_remove(kept, false);
  EXPECT_EQ(before + 1, probe::probe_t::live());
  delete kept;
}

TEST_F(RemoteTest, ProxyServantExistsWantsAProxy) {
  probe::probe_t local;
  const std::string refused =
      "exception|proxy_servant_exists: object is not a CORBA proxy";
  EXPECT_EQ(refused, probe::outcome_of([&] {
              probe::module_t::proxy_servant_exists(&local);
            }));
  EXPECT_EQ(refused, probe::outcome_of([&] {
              probe::module_t::proxy_servant_exists(nullptr);
            }));
}

TEST_F(RemoteTest, AddressesThatGiveNoProbe) {
  probe::probe_t imp;
  std::string ior;
  probe::module_t::servant_add(&imp, ior, "");
  // A reference of another interface.
  qoc::pm::repository_i_var repository;
  EXPECT_EQ("exception|orb_t:: could not get remote object reference",
            probe::outcome_of([&] {
              orb_t::get().get_object<qoc::pm::repository_i>(repository,
                                                             ior.c_str());
            }));
  // The nil reference.
  CORBA::String_var nil =
      orb_t::get().orb()->object_to_string(CORBA::Object::_nil());
  std::string outcome = probe::outcome_of([&] { Proxy(nil.in()); });
  EXPECT_EQ(0u, outcome.find("exception|orb_t:: could not get object: "))
      << outcome;
  // Text that is no address at all.
  outcome = probe::outcome_of([&] { Proxy("no address"); });
  EXPECT_EQ(0u, outcome.find("corba|" + kOther + "BAD_PARAM (")) << outcome;
  probe::module_t::servant_remove(&imp, false);
}

}  // namespace
}  // namespace qo::corba
