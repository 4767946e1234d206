#include "runtime/corba/char_codes.h"

// omniORB offers no public way to give the ORB a native code set of one's
// own; its code set framework (marked a proprietary interface) is the only
// place where strings can be made to pass unconverted, so it stays here, in
// this one file.
#include <omniORB4/codeSets.h>

#include <atomic>
#include <cstring>

namespace qo::corba {

namespace {

using code_set_t = omni::omniCodeSet;

constexpr char kLatin1Name[] = "ISO-8859-1";
constexpr char kAsSentName[] = "QO-AS-SENT";

std::atomic<char_codes_t> active{char_codes_t::latin1};

// A native code set that ignores the transmission code set: a string goes
// on the wire as its bytes and comes off it as the bytes sent, its length
// and closing NUL checked as CDR requires. Stateless, as omniORB requires of
// code set objects.
class as_sent_code_set_t : public code_set_t::NCS_C {
 public:
  as_sent_code_set_t()
      : NCS_C(code_set_t::ID_8859_1, kAsSentName, code_set_t::CS_Other) {}

  void marshalChar(cdrStream& s, code_set_t::TCS_C*, CORBA::Char c) override {
    s.marshalOctet(c);
  }

  CORBA::Char unmarshalChar(cdrStream& s, code_set_t::TCS_C*) override {
    return s.unmarshalOctet();
  }

  void marshalString(cdrStream& s, code_set_t::TCS_C*, CORBA::ULong bound,
                     CORBA::ULong length, const char* text) override {
    if (length == 0) length = static_cast<CORBA::ULong>(strlen(text));
    if (bound != 0 && length > bound) {
      refuse_marshal(s, omni::MARSHAL_StringIsTooLong);
    }
    const CORBA::ULong with_nul = length + 1;
    s.marshalULong(with_nul);
    s.put_octet_array(reinterpret_cast<const CORBA::Octet*>(text),
                      static_cast<int>(with_nul));
  }

  CORBA::ULong unmarshalString(cdrStream& s, code_set_t::TCS_C*,
                               CORBA::ULong bound, char*& out) override {
    const CORBA::ULong with_nul = unmarshal_string_length(s, bound);
    CORBA::String_var text = CORBA::string_alloc(with_nul - 1);
    s.get_octet_array(reinterpret_cast<CORBA::Octet*>(text.inout()),
                      static_cast<int>(with_nul));
    if (text[with_nul - 1] != '\0') {
      refuse_marshal(s, omni::MARSHAL_StringNotEndWithNull);
    }
    out = text._retn();
    return with_nul - 1;
  }
};

}  // namespace

const char* native_char_code_set(char_codes_t codes) {
  return codes == char_codes_t::as_sent ? kAsSentName : kLatin1Name;
}

void register_char_codes(char_codes_t codes) {
  if (codes != char_codes_t::as_sent) return;  // built into omniORB
  // omniORB keeps registered code sets for the life of the process and
  // offers no way to withdraw one.
  static const bool registered = [] {
    code_set_t::registerNCS_C(new as_sent_code_set_t);
    return true;
  }();
  (void)registered;
}

void set_active_char_codes(char_codes_t codes) { active = codes; }

char_codes_t active_char_codes() { return active; }

void refuse_marshal(cdrStream& s, CORBA::ULong minor) {
  throw CORBA::MARSHAL(minor,
                       static_cast<CORBA::CompletionStatus>(s.completion()));
}

CORBA::ULong unmarshal_string_length(cdrStream& s, CORBA::ULong bound) {
  const CORBA::ULong with_nul = s.unmarshalULong();
  if (with_nul == 0) refuse_marshal(s, omni::MARSHAL_StringNotEndWithNull);
  if (bound != 0 && with_nul - 1 > bound) {
    refuse_marshal(s, omni::MARSHAL_StringIsTooLong);
  }
  if (!s.checkInputOverrun(1, with_nul)) {
    refuse_marshal(s, omni::MARSHAL_PassEndOfMessage);
  }
  return with_nul;
}

bool strings_pass_unchanged(const cdrStream& s) {
  if (active == char_codes_t::as_sent) return true;
  const code_set_t::TCS_C* sent = s.TCS_C();
  return sent != nullptr && sent->id() == code_set_t::ID_8859_1;
}

}  // namespace qo::corba
