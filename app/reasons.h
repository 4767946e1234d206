// The one place where a failure becomes words for a technician. Every
// exception the runtime throws (transport and system failures, error codes
// from a unit or the repository, security refusals, operating-system
// errors) is described in plain words, with the technical text kept after
// them in brackets for support:
//
//   krtlogs: KRT33 (10.1.2.33): get_last: no answer within 60 s [TIMEOUT
//   (TIMEOUT_CallTimedOutOnClient, completed = MAYBE)]
//
// Failures are told apart by exception type and, for system exceptions, by
// the exception's name and minor code, never by reading their text.
// Stateless; any thread.
#ifndef KRTLOGS_APP_REASONS_H_
#define KRTLOGS_APP_REASONS_H_

#include <cstdint>
#include <exception>
#include <string>

#include "app/unit_record.h"
#include "runtime/error/exception.h"

// Who answered (or did not) when the call failed; it decides the words.
enum class Peer { kUnit, kRepository };

struct SReasonContext {
  Peer peer = Peer::kUnit;
  // The round-trip limit the call ran with, for "no answer within N s";
  // 0 when there was none. Set from CCallLimits (call_limits.h), which gave
  // the call its limit.
  uint32_t timeout_seconds = 0;
  // The failure arose while the published reference was being turned into
  // an object (proxy creation), so a malformed or unusable reference is the
  // likely cause of anything but a transport failure.
  bool making_reference = false;
};

struct SReason {
  std::string plain;      // "no answer within 60 s"
  std::string technical;  // "TIMEOUT (...)"; empty when it would repeat plain

  // "plain [technical]", or plain alone.
  std::string Text() const;
};

// A unit's reply refused for its size, with what its log would have been:
// "the unit's log of about 4.6 GiB is larger than one reply may carry
// (4 GiB)" (without the size when there is no estimate), the ORB's text for
// support.
class CReplyTooLarge : public qo::exception_t {
 public:
  // `log_bytes`: the log's estimated size on the wire, 0 when unknown.
  CReplyTooLarge(uint64_t log_bytes, const qo::corba::exception_t& refusal);
  const std::string& technical() const { return technical_; }

 private:
  std::string technical_;
};

// Whether `e` is a reply the ORB refused for its size (MARSHAL, message
// size beyond the limit, on either side).
bool IsReplyTooLarge(const qo::corba::exception_t& e);

// Describes the exception being handled. Call only inside a catch block.
SReason DescribeCurrentException(const SReasonContext& context);
// Describes `failure`; a null pointer gives "unknown failure".
SReason DescribeException(std::exception_ptr failure,
                          const SReasonContext& context);

// "KRT33 (10.1.2.33)": the unit's name and the address it published.
std::string UnitLabel(const SKRTRecord& unit);

// The line to print on standard error, without a newline:
// "krtlogs: " + subject + ": " + operation + ": " + reason.Text(). The
// subject is a UnitLabel or "Velto repository".
std::string FailureLine(const std::string& subject,
                        const std::string& operation, const SReason& reason);
// FailureLine(UnitLabel(unit), operation, reason).
std::string UnitFailureLine(const SKRTRecord& unit,
                            const std::string& operation,
                            const SReason& reason);

#endif  // KRTLOGS_APP_REASONS_H_
