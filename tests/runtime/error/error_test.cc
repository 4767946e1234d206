#include <cerrno>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "runtime/error/error_codes.h"
#include "runtime/error/exception.h"
#include "runtime/error/format.h"

namespace qo {
namespace {

TEST(ErrorTableTest, HoldsTheRowsInLookupOrder) {
  struct Row {
    uint32_t code;
    const char* name;
  };
  // The order decides which of two rows with the same code a lookup finds.
  const Row expected[] = {
      {0x00000000, "no_error"},
      {0x20000001, "generic_error"},
      {0x20000002, "unknown_exception"},
      {0x20000003, "winapi"},
      {0x20000004, "not_implemented"},
      {0x20000100, "qocman_min"},
      {0x200001FF, "qocman_max"},
      {0x20000200, "xml_min"},
      {0x200002FF, "xml_max"},
      {0x20000300, "qonet_min"},
      {0x200003FF, "qonet_max"},
      {0x20000400, "sec_min"},
      {0x200004FF, "sec_max"},
      {0x20000101, "qocman_generic"},
      {0x20000102, "qocman_no_engine"},
      {0x20000103, "qocman_no_config_file"},
      {0x20000103, "qocman_bad_config_file"},
      {0x20000104, "qocman_bad_type"},
      {0x20000105, "qocman_bad_function"},
      {0x20000106, "qocman_bad_cgid"},
      {0x20000107, "qocman_bad_ruid"},
      {0x20000108, "qocman_readonly"},
      {0x20000109, "qocman_internal"},
      {0x20000201, "xml_generic"},
      {0x20000202, "xml_internal"},
      {0x20000203, "xml_unknown_exception"},
      {0x20000204, "xml_rethrow_exception"},
      {0x20000205, "xml_file_open"},
      {0x20000206, "xml_file_read"},
      {0x20000207, "xml_parse_error"},
      {0x20000208, "xml_element_missing"},
      {0x20000209, "xml_element_illegal"},
      {0x2000020A, "xml_element_invalid"},
      {0x2000020B, "xml_attribute_missing"},
      {0x2000020C, "xml_attribute_illegal"},
      {0x2000020D, "xml_attribute_invalid"},
      {0x20000301, "qonet_generic"},
      {0x20000302, "qonet_sock_timeout"},
      {0x20000303, "qonet_malformed_address"},
      {0x20000303, "qonet_bad_address"},
      {0x20000401, "sec_access_denied"},
      {0x20000402, "sec_logon_fail"},
      {0x20000403, "sec_generic"},
  };
  ASSERT_EQ(43u, error_table_size);
  for (size_t i = 0; i < error_table_size; ++i) {
    EXPECT_EQ(expected[i].code, error_table[i].code) << i;
    EXPECT_STREQ(expected[i].name, error_table[i].name) << i;
  }
}

TEST(ErrorTableTest, RendersCodes) {
  struct Case {
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {0x00000000, "this is not an error"},
      {0x20000001, "Generic error"},
      {0x20000003, "Windows API error"},
      {0x200001FF, "QOCMAN max error number"},
      {0x20000300, "qo::net min error number"},
      {0x20000103, "no configuration file"},       // first row wins
      {0x20000303, "malformed network address"},   // first row wins
      {0x20000104, "bad control type specified in configuration file"},
      {0x2000020D, "xml attribute invalid"},
      {0x20000401, "access denied"},
      {0x20000402, "invalid username or bad password"},
      {0x20000403, "generic security error"},
      {0x20000110, "unkown qo::errorcode 0x20000110"},
      {0x1, "unkown qo::errorcode 0x1"},
      {0xFFFFFFFF, "unkown qo::errorcode 0xFFFFFFFF"},
      {0x2000ABCD, "unkown qo::errorcode 0x2000ABCD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, error_text(c.code)) << std::hex << c.code;
    EXPECT_STREQ(c.text, errorcode_t(c.code).what());
    EXPECT_EQ(c.code, errorcode_t(c.code).code());
  }
  EXPECT_EQ(nullptr, errorcode_t::find(0x20000110));
  EXPECT_STREQ("qocman_no_config_file", errorcode_t::find(0x20000103)->name);
}

TEST(ErrorcodeTest, ContextPrecedesTheDescription) {
  errorcode_t known(0x20000302, "connect");
  EXPECT_STREQ("connect: sockets timeout", known.what());
  errorcode_t unknown(0x20000110, "reading");
  EXPECT_STREQ("reading: unkown qo::errorcode 0x20000110", unknown.what());
  EXPECT_EQ(0x20000110u, unknown.code());
}

TEST(ErrorcodeTest, RemoteMessageIsKeptLiterally) {
  errorcode_t e(std::string("disk %s full"), 0x20000403);
  EXPECT_STREQ("disk %s full", e.what());
  EXPECT_EQ(0x20000403u, e.code());
}

TEST(SecurityExceptionTest, CarryFixedCodesAndTexts) {
  sec::access_denied_t denied;
  EXPECT_EQ(0x20000401u, denied.code());
  EXPECT_STREQ("access denied", denied.what());
  sec::logon_fail_t fail;
  EXPECT_EQ(0x20000402u, fail.code());
  EXPECT_STREQ("invalid username or bad password", fail.what());
  sec::exception_t generic(0x20000403);
  EXPECT_STREQ("generic security error", generic.what());
}

TEST(FormatTest, CutsAt510Characters) {
  std::string long_text(600, 'x');
  EXPECT_EQ(510u, format("%s", long_text.c_str()).size());
  EXPECT_EQ(std::string(510, 'x'), exception_t("%s", long_text.c_str()).what());
  EXPECT_EQ(std::string(510, 'y'), format("%s", std::string(510, 'y').c_str()));
  EXPECT_EQ("a 7 b", format("a %d %s", 7, "b"));
  EXPECT_EQ(std::string(700, 'z'), exception_t(std::string(700, 'z')).what());
}

TEST(PosExceptionTest, AppendsTheSystemText) {
  errno = 13;
  pos::exception_t with_context("open /x");
  EXPECT_EQ(13, with_context.os_error());
  EXPECT_EQ(std::string("open /x: ") + strerror(13), with_context.what());

  errno = 2;
  pos::exception_t from_string(std::string("stat"));
  EXPECT_EQ(std::string("stat: ") + strerror(2), from_string.what());

  errno = 2;
  pos::exception_t bare;
  EXPECT_EQ(2, bare.os_error());
  EXPECT_EQ(strerror(2), std::string(bare.what()));
}

TEST(PosExceptionTest, EnsureThrowsOnlyOnFalse) {
  EXPECT_NO_THROW(pos::ensure(true, "fine"));
  errno = 13;
  try {
    pos::ensure(false, "get_ip_interfaces failed");
    FAIL() << "no throw";
  } catch (const pos::exception_t& e) {
    EXPECT_EQ(std::string("get_ip_interfaces failed: ") + strerror(13),
              e.what());
  }
  EXPECT_NO_THROW(ensure(true, "fine"));
  try {
    ensure(false, "100% wrong");
    FAIL() << "no throw";
  } catch (const exception_t& e) {
    EXPECT_STREQ("100% wrong", e.what());
  }
}

// Which handler receives each class decides whether a stop or a transport
// failure can be swallowed by accident.
template <typename Thrown>
std::string CatcherOf(const Thrown& thrown) {
  try {
    throw thrown;
  } catch (errorcode_t&) {
    return "errorcode";
  } catch (exception_t&) {
    return "qo";
  } catch (std::exception&) {
    return "std";
  } catch (...) {
    return "other";
  }
}

TEST(ExceptionTreeTest, HandlersReceiveOnlyWhatTheyShould) {
  EXPECT_EQ("errorcode", CatcherOf(sec::logon_fail_t()));
  EXPECT_EQ("errorcode", CatcherOf(errorcode_t(1)));
  EXPECT_EQ("qo", CatcherOf(exception_t(std::string("x"))));
  EXPECT_EQ("qo", CatcherOf(pos::exception_t("x")));
  EXPECT_EQ("std", CatcherOf(corba::exception_t("x")));
  EXPECT_EQ("other", CatcherOf(pproc::thread_stop_exception_t()));
}

TEST(CorbaExceptionTest, TextIsNotAFormat) {
  EXPECT_STREQ("50% %s", corba::exception_t("50% %s").what());
}

}  // namespace
}  // namespace qo
