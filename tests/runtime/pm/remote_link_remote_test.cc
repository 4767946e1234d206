// The remote link between two velto-repo servers, 127.0.0.2:4000 mirrored
// into 127.0.0.1:4000 through this process's pump: keys appear, change and
// vanish here as they do there, and every mirrored key is withdrawn when
// the other server dies and when the link stops.
#include <signal.h>

#include <list>
#include <map>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "runtime/pm/pm_module.h"
#include "runtime/pm/remote_link.h"
#include "runtime/pm/velto_address.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace qo::pm {
namespace {

using Entries = std::map<std::string, std::string>;
using tools_test::eventually;
using tools_test::server_t;

// Every entry of a repository, by key.
Entries Contents(repository_if_t& repo) {
  std::list<std::string> keys;
  repo.keys_get("*", keys, false);
  Entries entries;
  for (const std::string& key : keys) repo.value_get(key, entries[key]);
  return entries;
}

TEST(RemoteLinkRemoteTest, MirrorsAnotherHostWhileItAnswers) {
  testing_support::TempDir dir;
  server_t here_server(tools_test::velto_repo_argv("127.0.0.1"),
                       dir.File("here"), "velto-repo ready");
  ASSERT_TRUE(here_server.ready()) << here_server.output();
  auto there_server =
      std::make_unique<server_t>(tools_test::velto_repo_argv("127.0.0.2"),
                                 dir.File("there1"), "velto-repo ready");
  ASSERT_TRUE(there_server->ready()) << there_server->output();
  std::unique_ptr<repository_if_t> here(velto_connect());
  std::unique_ptr<repository_if_t> there(
      proxy_create(velto_address("127.0.0.2").c_str()));
  here->publish("own", "stays");
  there->publish("a/x", "1");
  there->publish("b/y", "2");

  velto_remote_link_t link("127.0.0.2", false);
  link.start();
  EXPECT_TRUE(eventually([&] {
    return Contents(*here) ==
           Entries({{"a/x", "1"}, {"b/y", "2"}, {"own", "stays"}});
  })) << "first copy";
  EXPECT_TRUE(link.connected());

  there->publish("c/z", "3");
  there->unpublish("a/x");
  there->publish("b/y", "changed");
  EXPECT_TRUE(eventually([&] {
    return Contents(*here) ==
           Entries({{"b/y", "changed"}, {"c/z", "3"}, {"own", "stays"}});
  })) << "next cycles";

  there_server->stop(SIGKILL);
  EXPECT_TRUE(eventually([&] {
    return Contents(*here) == Entries({{"own", "stays"}});
  })) << "other host gone";
  EXPECT_FALSE(link.connected());

  there_server =
      std::make_unique<server_t>(tools_test::velto_repo_argv("127.0.0.2"),
                                 dir.File("there2"), "velto-repo ready");
  ASSERT_TRUE(there_server->ready()) << there_server->output();
  there.reset(proxy_create(velto_address("127.0.0.2").c_str()));
  there->publish("d/w", "4");
  // No wake: the link tries again on its own once its failure pause is over.
  EXPECT_TRUE(eventually([&] {
    return Contents(*here) == Entries({{"d/w", "4"}, {"own", "stays"}});
  })) << "other host back";

  link.stop();
  EXPECT_EQ(Entries({{"own", "stays"}}), Contents(*here));
  EXPECT_EQ(0, there_server->stop(SIGTERM)) << there_server->output();
  EXPECT_EQ(0, here_server.stop(SIGTERM)) << here_server.output();
}

}  // namespace
}  // namespace qo::pm
