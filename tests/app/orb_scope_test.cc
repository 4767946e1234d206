// The tool's ORB scope: a real ORB on the host's first address between
// construction and destruction, "done" after each step, and readable
// failures. The ORB singleton is process-wide, so each case runs in a child.
#include "app/orb_scope.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/pos/ip_address.h"
#include "tests/runtime/corba/probe.h"
#include "tests/support/process.h"

namespace {

using testing_support::RunInChild;

// The address in the references the scope's ORB hands out.
// The tool's ORB serves nothing, so the reference is made without a servant.
std::string PublishedHost() {
  qo::corba::orb_t& orb = qo::corba::orb_t::get();
  CORBA::Object_var object =
      orb.root_poa()->create_reference("IDL:qoc/log/manager_i:1.0");
  CORBA::String_var text = orb.orb()->object_to_string(object);
  std::string ior = text.in();
  std::string host;
  uint16_t port = 0;
  probe::ior_address(ior, host, port);
  return host;
}

TEST(OrbScopeTest, RunsTheOrbOnTheFirstAddress) {
  EXPECT_EQ("", RunInChild([] {
              std::string report;
              testing::internal::CaptureStdout();
              std::string host;
              {
                COrbScope scope;
                host = PublishedHost();
              }
              std::string out = testing::internal::GetCapturedStdout();
              if (out != "done\ndone\n") report += "stdout: " + out + "\n";
              // With no address but loopback the ORB listens everywhere
              // and publishes what omniORB picks.
              const std::string first = qo::pos::ip_address(0);
              if (!first.empty() && host != first) {
                report += "published " + host + ", first address " + first;
              }
              if (host.empty()) report += "no reference published";
              return report;
            }));
}

TEST(OrbScopeTest, FailedOrbInitIsReadable) {
  EXPECT_EQ("", RunInChild([] {
              setenv("ORBInitRef", "not-an-assignment", 1);
              testing::internal::CaptureStdout();
              std::string report;
              try {
                COrbScope scope;
                report = "started";
              } catch (const qo::corba::exception_t& e) {
                report = e.what();
              }
              std::string out = testing::internal::GetCapturedStdout();
              const std::string expected =
                  "SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : "
                  "INITIALIZE (INITIALIZE_InvalidORBInitArgs, completed = NO)";
              return (report == expected ? "" : report + "\n") + out;
            }));
}

TEST(OrbScopeTest, FailedOrbStartLeavesNoSingleton) {
  // omniORB adds endpoints named in the environment to its own; one on a
  // port in use cannot be opened.
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0,
            bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, listen(sock, 1));
  socklen_t length = sizeof(address);
  getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string endpoint =
      "giop:tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_EQ(
      "", RunInChild([&] {
        setenv("ORBendPoint", endpoint.c_str(), 1);
        testing::internal::CaptureStdout();
        std::string report;
        try {
          COrbScope scope;
          report = "started\n";
        } catch (const qo::corba::exception_t& e) {
          if (std::string(e.what()).find("INITIALIZE") == std::string::npos) {
            report = std::string(e.what()) + "\n";
          }
        }
        try {
          qo::corba::orb_t::get();
          report += "singleton left behind\n";
        } catch (const qo::exception_t&) {
        }
        return report + testing::internal::GetCapturedStdout();
      }));
  close(sock);
}

}  // namespace
