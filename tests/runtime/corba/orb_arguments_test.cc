#include "runtime/corba/orb_arguments.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace qo::corba {
namespace {

using args_t = std::vector<std::string>;

// Resolves every name to one address and remembers what it was asked.
struct fake_resolver_t {
  std::vector<std::string> asked;
  std::string operator()(const std::string& name) {
    asked.push_back(name);
    return "10.9.8.7";
  }
};

const args_t kClient = {"-ORBoneCallPerConnection",
                        "1",
                        "-ORBmaxGIOPConnectionPerServer",
                        "1024",
                        "-ORBgiopMaxMsgSize",
                        "4294967295",
                        "-ORBnativeCharCodeSet",
                        "ISO-8859-1"};

args_t Join(std::initializer_list<args_t> parts) {
  args_t all;
  for (const args_t& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

args_t Build(const std::string& endpoint, bool debug, unsigned threads,
             fake_resolver_t* resolver = nullptr,
             char_codes_t codes = char_codes_t::latin1) {
  fake_resolver_t local;
  fake_resolver_t& r = resolver != nullptr ? *resolver : local;
  return orb_arguments(endpoint, debug, threads, codes,
                       [&r](const std::string& name) { return r(name); });
}

TEST(OrbArgumentsTest, EndpointForms) {
  const args_t quiet = {"-ORBtraceLevel", "0"};
  const args_t pool6 = {"-ORBthreadPerConnectionPolicy", "0",
                        "-ORBmaxServerThreadPoolSize", "6"};
  struct {
    std::string endpoint;
    args_t endpoint_args;
  } cases[] = {
      {"", {}},
      {"iiop://", {"-ORBendPoint", "giop:tcp::"}},
      {"iiop://10.1.2.5", {"-ORBendPoint", "giop:tcp:10.1.2.5:"}},
      {"iiop://10.1.2.5:4000", {"-ORBendPoint", "giop:tcp:10.1.2.5:4000"}},
      {"iiop://10.1.2.5:", {"-ORBendPoint", "giop:tcp:10.1.2.5:"}},
      {"iiop://10.1.2.5:0", {"-ORBendPoint", "giop:tcp:10.1.2.5:"}},
      {"iiop://127.0.0.1:004000", {"-ORBendPoint", "giop:tcp:127.0.0.1:4000"}},
      {"iiop://:4000", {"-ORBendPoint", "giop:tcp::4000"}},
      {"iiop://krt-host.local:4000",
       {"-ORBendPoint", "giop:tcp:krt-host.local:4000", "-ORBendPointPublish",
        "giop:tcp:10.9.8.7:"}},
      {"iiop://localhost",
       {"-ORBendPoint", "giop:tcp:localhost:", "-ORBendPointPublish",
        "giop:tcp:10.9.8.7:"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Join({quiet, c.endpoint_args, kClient, pool6}),
              Build(c.endpoint, false, 6))
        << c.endpoint;
  }
}

TEST(OrbArgumentsTest, DebugAndThreadSettings) {
  const args_t endpoint = {"-ORBendPoint", "giop:tcp:10.1.2.5:"};
  const args_t quiet = {"-ORBtraceLevel", "0"};
  const args_t traced = {"-ORBtraceLevel", "25", "-ORBtraceExceptions", "1"};
  const args_t per_connection = {"-ORBthreadPerConnectionPolicy", "1"};
  const args_t pool1 = {"-ORBthreadPerConnectionPolicy", "0",
                        "-ORBmaxServerThreadPoolSize", "1"};
  EXPECT_EQ(Join({quiet, endpoint, kClient, per_connection}),
            Build("iiop://10.1.2.5", false, 0));
  EXPECT_EQ(Join({traced, endpoint, kClient, per_connection}),
            Build("iiop://10.1.2.5", true, 0));
  EXPECT_EQ(Join({traced, endpoint, kClient, pool1}),
            Build("iiop://10.1.2.5", true, 1));
  EXPECT_EQ(Join({quiet, kClient, pool1}), Build("", false, 1));
}

TEST(OrbArgumentsTest, TheNativeCodeSetIsAlwaysNamed) {
  // Named even for omniORB's default, so that nothing in the environment
  // or in omniORB's configuration file can change how strings are read.
  args_t as_sent = kClient;
  as_sent.back() = "QO-AS-SENT";
  // A process that only calls closes its idle connections.
  as_sent.insert(as_sent.end(),
                 {"-ORBscanGranularity", "1", "-ORBoutConScanPeriod", "2"});
  const args_t endpoint = {"-ORBendPoint", "giop:tcp:10.1.2.5:"};
  const args_t quiet = {"-ORBtraceLevel", "0"};
  const args_t per_connection = {"-ORBthreadPerConnectionPolicy", "1"};
  EXPECT_EQ(Join({quiet, endpoint, kClient, per_connection}),
            Build("iiop://10.1.2.5", false, 0, nullptr, char_codes_t::latin1));
  EXPECT_EQ(Join({quiet, endpoint, as_sent, per_connection}),
            Build("iiop://10.1.2.5", false, 0, nullptr, char_codes_t::as_sent));
}

TEST(OrbArgumentsTest, NeverMoreThanTheSlotsAvailable) {
  args_t longest =
      Build("iiop://some.name:1", true, 99, nullptr, char_codes_t::as_sent);
  EXPECT_LT(longest.size(), kMaxOrbArguments);
  EXPECT_NE(std::string::npos, longest[0].find("-ORB"));  // no program name
}

TEST(OrbArgumentsTest, NumericHostsAreNotResolved) {
  fake_resolver_t resolver;
  Build("iiop://", false, 6, &resolver);
  Build("iiop://127.0.0.1:4000", false, 6, &resolver);
  Build("iiop://192.168.1.7", false, 6, &resolver);
  EXPECT_TRUE(resolver.asked.empty());
  Build("iiop://unit7:4000", false, 6, &resolver);
  EXPECT_EQ(args_t{"unit7"}, resolver.asked);
}

TEST(OrbArgumentsTest, EndpointOf256CharactersIsAccepted) {
  std::string endpoint = "iiop://127.0.0.1:";
  endpoint += std::string(256 - endpoint.size() - 4, '0') + "4000";
  ASSERT_EQ(256u, endpoint.size());
  args_t args = Build(endpoint, false, 6);
  EXPECT_EQ("giop:tcp:127.0.0.1:4000", args[3]);
}

TEST(OrbArgumentsTest, EndpointOf257CharactersIsRefused) {
  std::string endpoint = "iiop://";
  endpoint += std::string(257 - endpoint.size(), 'a');
  ASSERT_EQ(257u, endpoint.size());
  try {
    Build(endpoint, false, 6);
    FAIL() << "accepted";
  } catch (const qo::exception_t& e) {
    EXPECT_STREQ("endpoint string too long", e.what());
  }
}

TEST(OrbArgumentsTest, OtherFormsAreRefused) {
  const char* bad[] = {
      "10.1.2.5:4000",        "iiop:/10.1.2.5",        "IIOP://10.1.2.5",
      "iiop://10.1.2.5:port", "iiop://10.1.2.5:65536", "iiop://1.2@10.1.2.5",
      "iiop://a:1,b:2",       "iiop://[::1]:4000",     "iiop://10.1.2.5:-1",
      "iiop://host/path",     "uiop://tmp/socket",     "iiop://a b",
  };
  for (const char* endpoint : bad) {
    try {
      Build(endpoint, false, 6);
      ADD_FAILURE() << "accepted " << endpoint;
    } catch (const qo::exception_t& e) {
      EXPECT_NE(std::string::npos,
                std::string(e.what()).find(std::string("\"") + endpoint))
          << e.what();
    }
  }
}

TEST(OrbArgumentsTest, ResolvesLocalhostThroughTheSystem) {
  EXPECT_EQ("127.0.0.1", resolve_host("localhost"));
}

}  // namespace
}  // namespace qo::corba
