#include "app/reasons.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "app/resources.h"
#include "app/text_escape.h"
#include "runtime/corba/giop_limits.h"
#include "runtime/error/error_codes.h"
#include "runtime/error/exception.h"
#include "runtime/log/log_types.h"
#include "runtime/pos/ip_address.h"

namespace {

using qo::corba::completion_t;
using qo::corba::system_exception_info_t;

// Minor codes as the ORBs send them: a 20-bit vendor set and a number.
constexpr uint32_t kOmgMinorSet = 0x4f4d0000;   // the OMG's standard codes
constexpr uint32_t kOmniMinorSet = 0x41540000;  // omniORB's own codes

constexpr uint32_t kNoUsableProfile = kOmgMinorSet + 2;     // TRANSIENT
constexpr uint32_t kConnectFailed = kOmniMinorSet + 2;      // TRANSIENT
constexpr uint32_t kCallTimedOut = kOmniMinorSet + 8;       // TRANSIENT
constexpr uint32_t kConnectionClosed = kOmniMinorSet + 17;  // TRANSIENT
constexpr uint32_t kBadSchemeName = kOmgMinorSet + 7;       // BAD_PARAM
constexpr uint32_t kBadURIOther = kOmgMinorSet + 10;        // BAD_PARAM
constexpr uint32_t kInvalidObjectRef = kOmniMinorSet + 43;  // BAD_PARAM
constexpr uint32_t kInvalidIOR = kOmniMinorSet + 52;        // MARSHAL
// MARSHAL: a message larger than the limit, found by the receiver, the
// client or the server.
constexpr uint32_t kSizeExceeded = kOmniMinorSet + 69;
constexpr uint32_t kSizeExceededOnClient = kOmniMinorSet + 11;
constexpr uint32_t kSizeExceededOnServer = kOmniMinorSet + 12;
constexpr double kBytesPerGiB = 1024.0 * 1024.0 * 1024.0;

// "4.6 GiB", "4 GiB".
std::string GiB(uint64_t bytes) {
  char text[32];
  const double gib = bytes / kBytesPerGiB;
  snprintf(text, sizeof(text),
           gib == static_cast<uint64_t>(gib) ? "%.0f GiB" : "%.1f GiB", gib);
  return text;
}

bool Named(const system_exception_info_t& info, const char* name) {
  return info.name == name;
}

bool TooLarge(const system_exception_info_t& info) {
  return Named(info, "MARSHAL") &&
         (info.minor == kSizeExceeded || info.minor == kSizeExceededOnClient ||
          info.minor == kSizeExceededOnServer);
}

std::string ReplyTooLargeWords(uint64_t log_bytes) {
  // The limit as a round figure: one byte short of 4 GiB.
  const std::string limit = GiB(uint64_t{qo::corba::kMaxMessageBytes} + 1);
  return "the unit's log " +
         (log_bytes > 0 ? "of about " + GiB(log_bytes) + " " : std::string()) +
         "is larger than one reply may carry (" + limit + ")";
}

const char kNotAReference[] =
    "the published reference is not a valid object reference";

// BAD_PARAM minors that string_to_object raises for a malformed text:
// BadSchemeName, BadAddress, BadSchemeSpecificPart, BadURIOther.
bool IsMalformedReference(const system_exception_info_t& info) {
  if (Named(info, "INV_OBJREF")) return true;
  if (Named(info, "BAD_PARAM")) {
    return (info.minor >= kBadSchemeName && info.minor <= kBadURIOther) ||
           info.minor == kInvalidObjectRef;
  }
  return Named(info, "MARSHAL") && info.minor == kInvalidIOR;
}

std::string Hex(uint32_t value) {
  char text[sizeof("0x") + 8];
  snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

std::string NoAnswer(const SReasonContext& context) {
  if (context.timeout_seconds == 0) return "no answer in time";
  return "no answer within " + std::to_string(context.timeout_seconds) + " s";
}

const char* PeerName(Peer peer) {
  return peer == Peer::kUnit ? "the unit" : "the Velto repository";
}

std::string TransportWords(const system_exception_info_t& info,
                           const SReasonContext& context) {
  if (Named(info, "TIMEOUT")) return NoAnswer(context);
  if (Named(info, "COMM_FAILURE")) return "connection lost";
  if (Named(info, "TRANSIENT")) {
    // A connection this process could not open for want of a descriptor
    // is the host's limit, not the peer's fault (omniORB says "connect
    // failed" or "no usable profile" for it).
    if (info.minor == kConnectFailed || info.minor == kNoUsableProfile) {
      const std::string shortage = DescriptorShortage();
      if (!shortage.empty()) return shortage;
    }
    switch (info.minor) {
      case kConnectFailed:
        return "cannot connect (refused or unreachable)";
      case kCallTimedOut:
        return NoAnswer(context);
      case kConnectionClosed:
        return "connection lost";
      case kNoUsableProfile:
        return "cannot connect (the reference holds no usable address)";
    }
    return "cannot connect";
  }
  if (Named(info, "OBJECT_NOT_EXIST")) {
    return context.peer == Peer::kUnit
               ? "the unit's log manager no longer exists"
               : "no Velto repository object at its address";
  }
  if (Named(info, "NO_PERMISSION")) return "access denied";
  if (TooLarge(info)) return ReplyTooLargeWords(0);
  if (IsMalformedReference(info)) return kNotAReference;
  if (context.making_reference &&
      (Named(info, "BAD_PARAM") || Named(info, "MARSHAL"))) {
    return kNotAReference;
  }
  return std::string("the call to ") + PeerName(context.peer) + " failed";
}

SReason DescribeCorba(const qo::corba::exception_t& e,
                      const SReasonContext& context) {
  const system_exception_info_t& info = e.info();
  // Failures raised without a system exception (the pump's own "no
  // connection") are already plain.
  if (info.name.empty()) return {e.what(), ""};
  return {TransportWords(info, context), info.text()};
}

SReason DescribeErrorCode(const qo::errorcode_t& e,
                          const SReasonContext& context) {
  const uint32_t code = e.code();
  const std::string hex = Hex(code);
  if (code == qo::errc::sec_access_denied) {
    return {"access denied", "error " + hex};
  }
  if (code == qo::errc::sec_logon_fail) {
    return {"logon refused (invalid username or bad password)", "error " + hex};
  }
  const qo::error_entry_t* entry = qo::errorcode_t::find(code);
  std::string plain = context.peer == Peer::kUnit
                          ? "the unit refused (unit error " + hex
                          : "the Velto repository refused (error " + hex;
  if (entry != nullptr) plain += std::string(": ") + entry->description;
  plain += ")";
  // The peer's own message, when it says more than the table does.
  std::string technical = e.what();
  if (entry != nullptr && technical == entry->description) technical.clear();
  return {plain, technical};
}

SReason DescribeQo(const qo::exception_t& e, const SReasonContext& context) {
  if (context.making_reference) return {kNotAReference, e.what()};
  return {std::string(PeerName(context.peer)) + " reported an error", e.what()};
}

}  // namespace

std::string SReason::Text() const {
  if (technical.empty()) return plain;
  return plain + " [" + technical + "]";
}

CReplyTooLarge::CReplyTooLarge(uint64_t log_bytes,
                               const qo::corba::exception_t& refusal)
    : qo::exception_t(ReplyTooLargeWords(log_bytes)),
      technical_(refusal.info().text()) {}

bool IsReplyTooLarge(const qo::corba::exception_t& e) {
  return TooLarge(e.info());
}

SReason DescribeCurrentException(const SReasonContext& context) {
  try {
    throw;
  } catch (const CReplyTooLarge& e) {
    return {e.what(), e.technical()};
  } catch (const qo::corba::exception_t& e) {
    return DescribeCorba(e, context);
  } catch (const qo::errorcode_t& e) {
    return DescribeErrorCode(e, context);
  } catch (const qo::pos::exception_t& e) {
    const std::string shortage = ShortageWords(e.os_error());
    if (!shortage.empty()) return {shortage, e.what()};
    if (context.making_reference) return {kNotAReference, e.what()};
    return {e.what(), ""};
  } catch (const qo::exception_t& e) {
    return DescribeQo(e, context);
  } catch (const qo::pproc::thread_stop_exception_t&) {
    return {"stopped", ""};
  } catch (const std::bad_alloc&) {
    return {ShortageWords(ENOMEM), ""};
  } catch (const std::exception& e) {
    return {e.what(), ""};
  } catch (...) {
    return {"unknown failure", ""};
  }
}

SReason DescribeException(std::exception_ptr failure,
                          const SReasonContext& context) {
  if (!failure) return {"unknown failure", ""};
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    return DescribeCurrentException(context);
  }
}

std::string UnitLabel(const SKRTRecord& unit) {
  size_t at = unit.key.find(qo::log::kManagerKeySuffix);
  std::string address = at == std::string::npos
                            ? qo::pos::dotted_address(unit.address)
                            : unit.key.substr(0, at);
  return "KRT" + unit.name + " (" + EscapeControlCharacters(address) + ")";
}

std::string FailureLine(const std::string& subject,
                        const std::string& operation, const SReason& reason) {
  return "krtlogs: " + subject + ": " + operation + ": " + reason.Text();
}

std::string UnitFailureLine(const SKRTRecord& unit,
                            const std::string& operation,
                            const SReason& reason) {
  return FailureLine(UnitLabel(unit), operation, reason);
}
