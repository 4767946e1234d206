// Every failure the runtime throws, in the words a technician reads, with
// the technical text kept in brackets.
#include "app/reasons.h"

#include <cerrno>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace krtlogs_test {
namespace {

using qo::corba::completion_t;
using qo::corba::system_exception_info_t;

// A system exception as the runtime's translation delivers it.
qo::corba::exception_t System(const char* name, uint32_t minor,
                              const char* minor_name,
                              completion_t completed = completion_t::no) {
  system_exception_info_t info;
  info.name = name;
  info.minor = minor;
  info.minor_name = minor_name;
  info.completed = completed;
  return qo::corba::exception_t("text that must not be read", info);
}

SReasonContext Unit(uint32_t timeout_seconds = 60) {
  SReasonContext context;
  context.timeout_seconds = timeout_seconds;
  return context;
}

SReasonContext Repository() {
  SReasonContext context;
  context.peer = Peer::kRepository;
  context.timeout_seconds = 3;
  return context;
}

SReasonContext Reference() {
  SReasonContext context;
  context.making_reference = true;
  return context;
}

std::string Described(const std::function<void()>& raise,
                      const SReasonContext& context) {
  try {
    raise();
  } catch (...) {
    return DescribeCurrentException(context).Text();
  }
  return "nothing thrown";
}

template <typename E>
std::function<void()> Throw(E e) {
  return [e] { throw e; };
}

TEST(ReasonsTest, EachFailureInPlainWords) {
  const std::string kNotAReference =
      "the published reference is not a valid object reference";
  struct {
    std::function<void()> raise;
    SReasonContext context;
    std::string text;
  } cases[] = {
      {Throw(System("TRANSIENT", 0x41540002, "TRANSIENT_ConnectFailed")),
       Unit(),
       "cannot connect (refused or unreachable) [TRANSIENT "
       "(TRANSIENT_ConnectFailed, completed = NO)]"},
      {Throw(System("TRANSIENT", 0x4f4d0002, "TRANSIENT_NoUsableProfile")),
       Unit(),
       "cannot connect (the reference holds no usable address) [TRANSIENT "
       "(TRANSIENT_NoUsableProfile, completed = NO)]"},
      {Throw(System("TIMEOUT", 0x41540008, "TIMEOUT_CallTimedOutOnClient",
                    completion_t::maybe)),
       Unit(),
       "no answer within 60 s [TIMEOUT (TIMEOUT_CallTimedOutOnClient, "
       "completed = MAYBE)]"},
      {Throw(System("TIMEOUT", 0x41540008, "", completion_t::maybe)), Unit(0),
       "no answer in time [TIMEOUT (0x41540008, completed = MAYBE)]"},
      {Throw(System("TRANSIENT", 0x41540008, "TRANSIENT_CallTimedout")),
       Unit(5),
       "no answer within 5 s [TRANSIENT (TRANSIENT_CallTimedout, completed = "
       "NO)]"},
      // A peer on another ORB sends its own minor codes: the name decides.
      {Throw(System("TIMEOUT", 0x54410580, "", completion_t::yes)), Unit(7),
       "no answer within 7 s [TIMEOUT (0x54410580, completed = YES)]"},
      {Throw(System("COMM_FAILURE", 0x41540007, "COMM_FAILURE_WaitingForReply",
                    completion_t::maybe)),
       Unit(),
       "connection lost [COMM_FAILURE (COMM_FAILURE_WaitingForReply, "
       "completed = MAYBE)]"},
      {Throw(System("TRANSIENT", 0x41540011, "TRANSIENT_ConnectionClosed")),
       Unit(),
       "connection lost [TRANSIENT (TRANSIENT_ConnectionClosed, completed = "
       "NO)]"},
      {Throw(
           System("OBJECT_NOT_EXIST", 0x4f4d0001, "OBJECT_NOT_EXIST_NoMatch")),
       Unit(),
       "the unit's log manager no longer exists [OBJECT_NOT_EXIST "
       "(OBJECT_NOT_EXIST_NoMatch, completed = NO)]"},
      {Throw(
           System("OBJECT_NOT_EXIST", 0x4f4d0001, "OBJECT_NOT_EXIST_NoMatch")),
       Repository(),
       "no Velto repository object at its address [OBJECT_NOT_EXIST "
       "(OBJECT_NOT_EXIST_NoMatch, completed = NO)]"},
      {Throw(System("BAD_PARAM", 0x4f4d0007, "BAD_PARAM_BadSchemeName")),
       Unit(),
       kNotAReference + " [BAD_PARAM (BAD_PARAM_BadSchemeName, completed = "
                        "NO)]"},
      {Throw(System("MARSHAL", 0x41540034, "MARSHAL_InvalidIOR")), Unit(),
       kNotAReference + " [MARSHAL (MARSHAL_InvalidIOR, completed = NO)]"},
      {Throw(System("INV_OBJREF", 0x41540036, "INV_OBJREF_CorruptedObjRef")),
       Unit(),
       kNotAReference +
           " [INV_OBJREF (INV_OBJREF_CorruptedObjRef, completed = NO)]"},
      // A truncated reference and a truncated reply look alike; only the
      // step tells them apart.
      {Throw(System("MARSHAL", 0x41540019, "MARSHAL_PassEndOfMessage")),
       Reference(),
       kNotAReference +
           " [MARSHAL (MARSHAL_PassEndOfMessage, completed = NO)]"},
      {Throw(System("MARSHAL", 0x41540019, "MARSHAL_PassEndOfMessage")), Unit(),
       "the call to the unit failed [MARSHAL (MARSHAL_PassEndOfMessage, "
       "completed = NO)]"},
      {Throw(System("NO_PERMISSION", 0, "")), Unit(),
       "access denied [NO_PERMISSION (0x00000000, completed = NO)]"},
      {Throw(qo::corba::exception_t("no connection to the Velto repository")),
       Repository(), "no connection to the Velto repository"},
      // Unit errors: the code in hexadecimal and the table's text; the
      // unit's own message only when it says something else.
      {Throw(qo::errorcode_t(
           std::string("bad function name specified in configuration file"),
           0x20000105)),
       Unit(),
       "the unit refused (unit error 0x20000105: bad function name specified "
       "in configuration file)"},
      {Throw(qo::errorcode_t(std::string("engine 4 says no"), 0x2000020A)),
       Unit(),
       "the unit refused (unit error 0x2000020A: xml element invalid) "
       "[engine 4 says no]"},
      {Throw(qo::errorcode_t(std::string("no such thing"), 0x20000110)), Unit(),
       "the unit refused (unit error 0x20000110) [no such thing]"},
      {Throw(qo::errorcode_t(0x20000403)), Repository(),
       "the Velto repository refused (error 0x20000403: generic security "
       "error)"},
      {Throw(qo::sec::access_denied_t()), Unit(),
       "access denied [error 0x20000401]"},
      {Throw(qo::sec::logon_fail_t()), Unit(),
       "logon refused (invalid username or bad password) [error 0x20000402]"},
      {Throw(qo::exception_t(std::string("log is locked"))), Unit(),
       "the unit reported an error [log is locked]"},
      {Throw(qo::exception_t(std::string("unknown exception from remote"))),
       Repository(),
       "the Velto repository reported an error [unknown exception from "
       "remote]"},
      {Throw(qo::exception_t(
           std::string("orb_t:: could not get remote object reference"))),
       Reference(),
       kNotAReference + " [orb_t:: could not get remote object reference]"},
      {[] {
         errno = EINVAL;
         throw qo::pos::exception_t("orb_t:: could not get object");
       },
       Reference(),
       kNotAReference + " [orb_t:: could not get object: Invalid argument]"},
      {[] {
         errno = ENOSPC;
         throw qo::pos::exception_t("KRT1_log.txt");
       },
       Unit(), "KRT1_log.txt: No space left on device"},
      {[] { throw qo::pproc::thread_stop_exception_t(); }, Unit(), "stopped"},
      {Throw(std::bad_alloc()), Unit(), "out of memory"},
      {Throw(std::runtime_error("disk on fire")), Unit(), "disk on fire"},
      {[] { throw 42; }, Unit(), "unknown failure"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, Described(c.raise, c.context));
  }
}

TEST(ReasonsTest, AStoredFailureIsDescribedAlike) {
  std::exception_ptr failure;
  try {
    throw System("TIMEOUT", 0x41540008, "TIMEOUT_CallTimedOutOnClient");
  } catch (...) {
    failure = std::current_exception();
  }
  SReason reason = DescribeException(failure, Repository());
  EXPECT_EQ("no answer within 3 s", reason.plain);
  EXPECT_EQ("TIMEOUT (TIMEOUT_CallTimedOutOnClient, completed = NO)",
            reason.technical);
  EXPECT_EQ("unknown failure", DescribeException(nullptr, Unit()).Text());
}

TEST(ReasonsTest, LinesNameTheUnitItsAddressAndTheOperation) {
  SReason reason{"no answer within 60 s", "TIMEOUT (x, completed = MAYBE)"};
  struct {
    SKRTRecord unit;
    std::string line;
  } cases[] = {
      {{"10.1.2.33/log_man_v1", "IOR:x", "33", 0x0A010221},
       "krtlogs: KRT33 (10.1.2.33): get_last: no answer within 60 s "
       "[TIMEOUT (x, completed = MAYBE)]"},
      // The address as the unit published it, not as it was read.
      {{"10.1.2.010/log_man_v1", "", "8", 0x0A010208},
       "krtlogs: KRT8 (10.1.2.010): get_last: no answer within 60 s "
       "[TIMEOUT (x, completed = MAYBE)]"},
      // Control characters from the repository cannot forge lines.
      {{"6.6.6.6\nkrtlogs: all fine\x1b[2J/log_man_v1", "", "6", 0x06060606},
       "krtlogs: KRT6 (6.6.6.6\\nkrtlogs: all fine\\x1b[2J): get_last: no "
       "answer within 60 s [TIMEOUT (x, completed = MAYBE)]"},
      {{"odd", "", "4", 0x0A010204},
       "krtlogs: KRT4 (10.1.2.4): get_last: no answer within 60 s "
       "[TIMEOUT (x, completed = MAYBE)]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.line, UnitFailureLine(c.unit, "get_last", reason));
  }
  EXPECT_EQ(
      "krtlogs: Velto repository: keys_get: cannot connect",
      FailureLine("Velto repository", "keys_get", {"cannot connect", ""}));
}

}  // namespace
}  // namespace krtlogs_test
