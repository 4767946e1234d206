// The repository proxy against velto-repo in another process: every
// operation, the store's patterns and order, and a repository that goes
// away.
#include <signal.h>

#include <list>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "runtime/pm/pm_module.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/servers.h"

namespace qo::pm {
namespace {

using Keys = std::list<std::string>;

TEST(RepositoryRemoteTest, EveryOperationAgainstVeltoRepo) {
  testing_support::TempDir dir;
  tools_test::server_t repo(tools_test::velto_repo_argv(), dir.File("repo"),
                            "velto-repo ready on 127.0.0.1:4000\n");
  ASSERT_TRUE(repo.ready()) << repo.output();
  std::unique_ptr<repository_if_t> proxy(velto_connect());
  EXPECT_TRUE(proxy_servant_exists(proxy.get()));

  proxy->publish("10.1.2.9/log_man_v1", "IOR:9");
  proxy->publish_ex("10.1.2.10/log_man_v1", "IOR:10", 1);
  proxy->publish("with\ttab/log_man_v1", "two\nlines");
  proxy->publish("10.1.2.11/other", "");
  proxy->publish("gone", "x");
  proxy->unpublish("gone");
  proxy->unpublish("never there");
  proxy->notify("s1", "s2", 1, -2);
  proxy->notify_ex("s1", "s2", "s3", 3, -4);
  proxy->ping();

  const struct {
    const char* pattern;
    Keys keys;
  } table[] = {
      {"*/log_man_v1",
       {"10.1.2.10/log_man_v1", "10.1.2.9/log_man_v1", "with\ttab/log_man_v1"}},
      {"10.1.2.1*", {"10.1.2.10/log_man_v1", "10.1.2.11/other"}},
      {"*1*/o*r", {"10.1.2.11/other"}},
      {"10.1.2.9/log_man_v1", {"10.1.2.9/log_man_v1"}},
      {"gone", {}},
      {"", {}},
  };
  for (const auto& row : table) {
    Keys keys = {"earlier"};  // appended to, not replaced
    proxy->keys_get(row.pattern, keys, false);
    Keys expected = row.keys;
    expected.push_front("earlier");
    EXPECT_EQ(expected, keys) << row.pattern;
  }
  Keys all;
  proxy->keys_get("*", all, true);
  proxy->keys_get("*", all, false);
  EXPECT_EQ(8u, all.size());  // duplicates stay

  std::string value = "kept";
  EXPECT_FALSE(proxy->value_get("gone", value));
  EXPECT_EQ("kept", value);
  EXPECT_TRUE(proxy->value_get("with\ttab/log_man_v1", value));
  EXPECT_EQ("two\nlines", value);
  EXPECT_TRUE(proxy->value_get("10.1.2.11/other", value));
  EXPECT_EQ("", value);

  EXPECT_EQ(0, repo.stop(SIGTERM));
  value = "kept";
  EXPECT_THROW(proxy->value_get("10.1.2.9/log_man_v1", value),
               qo::corba::exception_t);
  EXPECT_EQ("kept", value);
  EXPECT_THROW(proxy_servant_exists(proxy.get()), qo::corba::exception_t);
}

}  // namespace
}  // namespace qo::pm
