// Both translation tables and the system-exception text, driven by
// exceptions constructed in this process.
#include <omniORB4/CORBA.h>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>

#include "gtest/gtest.h"
#include "qoc_common.hh"
#include "runtime/corba/call.h"
#include "runtime/corba/system_exception_text.h"
#include "runtime/error/exception.h"
#include "tests/runtime/corba/probe.h"

namespace qo::corba {
namespace {

const std::string kOther =
    "SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : ";

TEST(SystemExceptionTextTest, VendorLocations) {
  struct {
    uint32_t location;
    const char* text;
  } cases[] = {
      {0x080, "location forward failed"},
      {0x100, "send request failed"},
      {0x180, "poa in discarding state"},
      {0x200, "poa in holding state"},
      {0x280, "unhandled c++ exception in server side"},
      {0x300, "failed to recv request response"},
      {0x380, "all protocols failed to parse the IOR"},
      {0x400, "error during MProfile creation"},
      {0x480, "timeout during connect"},
      {0x500, "timeout during send"},
      {0x580, "timeout during recv"},
      {0x600, "implrepo server exception"},
      {0x680, "endpoint initialization failure in Acceptor Registry"},
      {0x700, "ORB Core initialization failed"},
      {0x780, "Failure when narrowing a Policy"},
      {0x800, "Failure when trying to acquire a guard/monitor"},
      {0x880, "POA has been destroyed or is currently being destroyed"},
      {0x900, "poa in inactive state"},
      {0xA00, "Failure when trying to send AMH reply"},
      {0x980, "unknown location (2432)"},
      {0x000, "unknown location (0)"},
      {0xA80, "unknown location (2688)"},
      {0xF80, "unknown location (3968)"},
  };
  for (const auto& c : cases) {
    // The low 7 bits and the exception's name do not matter.
    CORBA::TRANSIENT transient(kVendorMinorCodeSet | c.location | 0x7F,
                               CORBA::COMPLETED_NO);
    EXPECT_EQ(std::string(c.text) + ", completed = NO",
              system_exception_text(transient));
    CORBA::COMM_FAILURE comm(kVendorMinorCodeSet | c.location,
                             CORBA::COMPLETED_NO);
    EXPECT_EQ(std::string(c.text) + ", completed = NO",
              system_exception_text(comm));
  }
}

TEST(SystemExceptionTextTest, VendorCompletions) {
  const uint32_t minor = kVendorMinorCodeSet | 0x100;
  EXPECT_EQ("send request failed, completed = YES",
            system_exception_text(CORBA::TIMEOUT(minor, CORBA::COMPLETED_YES)));
  EXPECT_EQ(
      "send request failed, completed = MAYBE",
      system_exception_text(CORBA::TIMEOUT(minor, CORBA::COMPLETED_MAYBE)));
}

TEST(SystemExceptionTextTest, OtherMinorCodeSets) {
  EXPECT_EQ(
      kOther + "TRANSIENT (TRANSIENT_ConnectFailed, completed = NO)",
      system_exception_text(CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO)));
  EXPECT_EQ(
      kOther + "OBJECT_NOT_EXIST (OBJECT_NOT_EXIST_NoMatch, completed = NO)",
      system_exception_text(
          CORBA::OBJECT_NOT_EXIST(0x4f4d0001, CORBA::COMPLETED_NO)));
  EXPECT_EQ(
      kOther + "COMM_FAILURE (COMM_FAILURE_WaitingForReply, completed = MAYBE)",
      system_exception_text(
          CORBA::COMM_FAILURE(0x41540007, CORBA::COMPLETED_MAYBE)));
  // No name for these minor codes: the number in hexadecimal.
  EXPECT_EQ(kOther + "NO_PERMISSION (0x12345678, completed = YES)",
            system_exception_text(
                CORBA::NO_PERMISSION(0x12345678, CORBA::COMPLETED_YES)));
  EXPECT_EQ(kOther + "BAD_PARAM (0x00000000, completed = NO)",
            system_exception_text(CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO)));
  // Next to the vendor set, but not in it.
  EXPECT_EQ(
      kOther + "TRANSIENT (0x54411100, completed = NO)",
      system_exception_text(CORBA::TRANSIENT(0x54411100, CORBA::COMPLETED_NO)));
}

// What client_call (or generic_call) turns `thrown` into.
std::string ClientOutcome(const std::function<void()>& thrown,
                          bool qoc_operation = true) {
  return probe::outcome_of([&] {
    if (qoc_operation) {
      client_call(thrown);
    } else {
      generic_call(thrown);
    }
  });
}

TEST(ClientCallTest, TranslationTable) {
  struct {
    std::function<void()> raise;
    std::string outcome;
  } cases[] = {
      {[] { throw qoc::errorcode_x(0x20000401, "nope %s"); },
       "access_denied|access denied|536871937"},
      {[] { throw qoc::errorcode_x(0x20000402, "bad %s"); },
       "logon_fail|invalid username or bad password|536871938"},
      {[] { throw qoc::errorcode_x(0x20000403, "sec %s %d"); },
       "errorcode|sec %s %d|536871939"},
      {[] { throw qoc::errorcode_x(0x12345, ""); }, "errorcode||74565"},
      {[] { throw qoc::exception_x("100% %s literal"); },
       "exception|100% %s literal"},
      {[] { throw PortableServer::POA::ObjectNotActive(); },
       "exception|CORBA user exception: "
       "IDL:omg.org/PortableServer/POA/ObjectNotActive:1.0"},
      {[] { throw CORBA::UNKNOWN(1, CORBA::COMPLETED_MAYBE); },
       "exception|unknown exception from remote"},
      {[] { throw CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO); },
       "corba|" + kOther +
           "TRANSIENT (TRANSIENT_ConnectFailed, completed = NO)"},
      {[] { throw CORBA::TIMEOUT(0x54410480, CORBA::COMPLETED_NO); },
       "corba|timeout during connect, completed = NO"},
      // Not CORBA: passes unchanged.
      {[] { throw qo::errorcode_t(0x20000401); },
       "errorcode|access denied|536871937"},
      {[] { throw std::runtime_error("plain"); }, "std|plain"},
      {[] {}, "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, ClientOutcome(c.raise));
}

// Callers tell transport failures apart by these, never by the text.
TEST(ClientCallTest, SystemExceptionsKeepTheirNameMinorAndCompletion) {
  struct {
    std::function<void()> raise;
    const char* name;
    uint32_t minor;
    const char* minor_name;
    completion_t completed;
  } cases[] = {
      {[] { throw CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO); },
       "TRANSIENT", 0x41540002, "TRANSIENT_ConnectFailed", completion_t::no},
      {[] { throw CORBA::TIMEOUT(0x41540008, CORBA::COMPLETED_MAYBE); },
       "TIMEOUT", 0x41540008, "TIMEOUT_CallTimedOutOnClient",
       completion_t::maybe},
      {[] { throw CORBA::COMM_FAILURE(0x54410580, CORBA::COMPLETED_YES); },
       "COMM_FAILURE", 0x54410580, "", completion_t::yes},
  };
  for (const auto& c : cases) {
    try {
      generic_call(c.raise);
      ADD_FAILURE() << "nothing thrown";
    } catch (const qo::corba::exception_t& e) {
      EXPECT_EQ(c.name, e.info().name);
      EXPECT_EQ(c.minor, e.info().minor);
      EXPECT_EQ(c.minor_name, e.info().minor_name);
      EXPECT_EQ(c.completed, e.info().completed);
    }
  }
  // A failure that was no system exception says so.
  EXPECT_EQ("", qo::corba::exception_t("no connection").info().name);
}

TEST(ClientCallTest, GenericCallsTreatQocExceptionsAsUserExceptions) {
  EXPECT_EQ(
      "exception|CORBA user exception: IDL:qoc/errorcode_x:1.0",
      ClientOutcome([] { throw qoc::errorcode_x(0x20000401, "x"); }, false));
  EXPECT_EQ("exception|CORBA user exception: IDL:qoc/exception_x:1.0",
            ClientOutcome([] { throw qoc::exception_x("x"); }, false));
  EXPECT_EQ("exception|unknown exception from remote",
            ClientOutcome([] { throw CORBA::UNKNOWN(); }, false));
  EXPECT_EQ("corba|" + kOther + "BAD_PARAM (0x00000000, completed = NO)",
            ClientOutcome([] { throw CORBA::BAD_PARAM(); }, false));
  EXPECT_EQ(
      "exception|orb_t::get - singleton does not exist",
      ClientOutcome(
          [] {
            throw qo::exception_t("orb_t::get - singleton does not exist");
          },
          false));
}

TEST(ClientCallTest, PassesResultsThrough) {
  EXPECT_EQ(42, client_call([] { return 42; }));
  EXPECT_EQ("x", generic_call([] { return std::string("x"); }));
}

// What servant_call raises to the ORB for `thrown`, as "class|fields".
std::string ServantOutcome(const std::function<void()>& thrown) {
  try {
    servant_call(thrown);
    return "none";
  } catch (const qoc::errorcode_x& e) {
    return "errorcode_x|" + std::to_string(e.errorcode) + "|" + e.msg.in();
  } catch (const qoc::exception_x& e) {
    return std::string("exception_x|") + e.msg.in();
  } catch (const CORBA::SystemException& e) {
    return std::string("system|") + e._name() + "|" + std::to_string(e.minor());
  } catch (...) {
    return "escaped";
  }
}

TEST(ServantCallTest, TranslationTable) {
  struct {
    std::function<void()> raise;
    std::string outcome;
  } cases[] = {
      {[] { throw qo::errorcode_t(std::string("m %s"), 0x20000403); },
       "errorcode_x|536871939|m %s"},
      {[] { throw qo::sec::logon_fail_t(); },
       "errorcode_x|536871938|invalid username or bad password"},
      {[] {
         errno = EACCES;
         throw qo::pos::exception_t("ctx");
       },
       "exception_x|ctx: Permission denied"},
      {[] { throw qo::exception_t(std::string("m %s")); }, "exception_x|m %s"},
      {[] { throw qo::corba::exception_t("lost peer"); },
       "exception_x|lost peer"},
      {[] { throw std::runtime_error("std %d"); }, "exception_x|std %d"},
      {[] { throw qoc::errorcode_x(7, "as is"); }, "errorcode_x|7|as is"},
      {[] { throw qoc::exception_x("as is"); }, "exception_x|as is"},
      {[] { throw CORBA::NO_PERMISSION(5, CORBA::COMPLETED_YES); },
       "system|NO_PERMISSION|5"},
      {[] { throw PortableServer::POA::ObjectNotActive(); },
       "system|UNKNOWN|0"},
      {[] { throw 42; }, "system|UNKNOWN|0"},
      {[] {}, "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, ServantOutcome(c.raise));
}

}  // namespace
}  // namespace qo::corba
