// The test binary's ORB: started on 127.0.0.1 (port chosen by the system)
// before the first test and destroyed after the last, handing strings over
// as `codes` says (runtime/corba/char_codes.h). Every test file of a binary
// asks for it with UseTestOrb; the first call registers it.
#ifndef KRTLOGS_TESTS_RUNTIME_LOG_TEST_ORB_H_
#define KRTLOGS_TESTS_RUNTIME_LOG_TEST_ORB_H_

#include "gtest/gtest.h"
#include "runtime/corba/orb.h"

namespace qo::log::test_support {

class test_orb_t : public testing::Environment {
 public:
  explicit test_orb_t(qo::corba::char_codes_t codes) : codes_(codes) {}
  void SetUp() override {
    qo::corba::orb_t::init("iiop://127.0.0.1", false, 2, codes_);
    qo::corba::orb_t::start_instance();
  }
  void TearDown() override { qo::corba::orb_t::destroy(); }

 private:
  const qo::corba::char_codes_t codes_;
};

inline bool UseTestOrb(qo::corba::char_codes_t codes) {
  static const bool registered =
      testing::AddGlobalTestEnvironment(new test_orb_t(codes)) != nullptr;
  return registered;
}

}  // namespace qo::log::test_support

#endif  // KRTLOGS_TESTS_RUNTIME_LOG_TEST_ORB_H_
