// The repository servant and proxy in one process, requests going through
// the POA: what the wire carries for unknown keys and empty answers, error
// codes both ways, and the servant deleting its implementation exactly
// once when told to.
#include "runtime/pm/repository_servant.h"

#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"
#include "runtime/pm/pm_module.h"
#include "runtime/pm/repository_proxy.h"
#include "tests/tools/servers.h"
#include "tools/memory_repository.h"

namespace qo::pm {
namespace {

testing::Environment* const kOrb =
    testing::AddGlobalTestEnvironment(new tools_test::orb_environment_t);

int destroyed = 0;

// velto-repo's store, failing on request and counting its destruction.
class test_repository_t : public memory_repository_t {
 public:
  ~test_repository_t() override { ++destroyed; }
  void ping() override {
    if (code != 0) throw qo::errorcode_t("remote 100% %d", code);
    if (!text.empty()) throw qo::exception_t(text);
  }
  uint32_t code = 0;
  std::string text;
};

class RepositoryServantTest : public testing::Test {
 protected:
  void SetUp() override {
    imp_ = new test_repository_t;
    servant_add(imp_, ior_, "");
    proxy_.reset(proxy_create(ior_.c_str()));
    stub_ = static_cast<repository_proxy_t*>(proxy_.get())->object();
  }
  void TearDown() override {
    if (imp_ != nullptr) {
      servant_remove(imp_, false);
      delete imp_;
    }
  }

  test_repository_t* imp_;
  std::string ior_;
  std::unique_ptr<repository_if_t> proxy_;
  qoc::pm::repository_i_ptr stub_;
};

TEST_F(RepositoryServantTest, UnknownKeysAndEmptyAnswersOnTheWire) {
  CORBA::String_var value;
  EXPECT_FALSE(stub_->value_get("nobody", value.out()));
  ASSERT_NE(nullptr, value.in());
  EXPECT_STREQ("", value.in());
  qoc::pm::key_seq_t_var keys;
  stub_->keys_get("nothing*", keys.out(), false);
  EXPECT_EQ(0u, keys->length());

  proxy_->publish("a\tb", "line\nline");
  std::string kept = "kept";
  EXPECT_FALSE(proxy_->value_get("a", kept));
  EXPECT_EQ("kept", kept);
  EXPECT_TRUE(proxy_->value_get("a\tb", kept));
  EXPECT_EQ("line\nline", kept);
}

TEST_F(RepositoryServantTest, ErrorsKeepTheirCodesAndTexts) {
  imp_->code = 0x20000105;
  try {
    proxy_->ping();
    ADD_FAILURE() << "no exception";
  } catch (const qo::errorcode_t& e) {
    EXPECT_EQ(0x20000105u, e.code());
    EXPECT_STREQ("remote 100% %d", e.what());
  }
  imp_->code = 0;
  imp_->text = "50% %s";
  try {
    proxy_->ping();
    ADD_FAILURE() << "no exception";
  } catch (const qo::errorcode_t&) {
    ADD_FAILURE() << "an error code";
  } catch (const qo::exception_t& e) {
    EXPECT_STREQ("50% %s", e.what());
  }
}

TEST_F(RepositoryServantTest, WithdrawingWithTheDeleteFlagDeletesOnce) {
  destroyed = 0;
  servant_remove(imp_, true);
  imp_ = nullptr;
  EXPECT_TRUE(tools_test::eventually([] { return destroyed == 1; }));
  EXPECT_FALSE(proxy_servant_exists(proxy_.get()));
  EXPECT_THROW(proxy_->ping(), qo::corba::exception_t);
  EXPECT_EQ(1, destroyed);
}

}  // namespace
}  // namespace qo::pm
