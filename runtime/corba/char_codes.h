// How the process's ORB turns the strings of requests and replies (IDL
// string and char) into program text and back. The choice is made once, when
// the ORB is started (orb_t::init), and holds for every call of the process.
//
// latin1 is omniORB's own behaviour: text is ISO-8859-1 inside the program
// and converted to and from whatever transmission code set is negotiated with
// each peer. A peer that declares UTF-8 and sends a character outside
// Latin-1 makes the whole call fail with DATA_CONVERSION.
//
// as_sent hands over the bytes on the wire unchanged, in the peer's own code
// set (UTF-8 from a unit that declares UTF-8, Latin-1 from one that declares
// Latin-1 or nothing), and sends program text as it is. Nothing is converted
// or checked. It is meant for processes that only call: a server would label
// its bytes with whatever code set a client negotiated, so an ORB started
// this way refuses to publish servants (orb_t::servant_add). Such a process
// calls many peers one after another, so its ORB also closes an outgoing
// connection once it has been idle for two seconds (orb_arguments.h).
//
// Both register themselves under the code set id of ISO-8859-1, so
// references a process publishes look the same either way.
#ifndef QO_RUNTIME_CORBA_CHAR_CODES_H_
#define QO_RUNTIME_CORBA_CHAR_CODES_H_

#include <omniORB4/CORBA.h>

namespace qo::corba {

enum class char_codes_t { latin1, as_sent };

// The name ORB_init's nativeCharCodeSet option takes for `codes`.
const char* native_char_code_set(char_codes_t codes);
// Makes the code set of `codes` known to omniORB. Call it before ORB_init,
// with no ORB running; repeated calls do nothing more.
void register_char_codes(char_codes_t codes);

// Records the choice of the ORB just started; read by strings_pass_unchanged.
void set_active_char_codes(char_codes_t codes);
char_codes_t active_char_codes();

// Whether a string read from `s` reaches the program as its bytes on the
// wire, so that a reader may take them without omniORB's conversion: always
// with as_sent, and with latin1 when the peer transmits ISO-8859-1 too.
bool strings_pass_unchanged(const cdrStream& s);

// For readers that take a string's bytes straight from the stream: reads the
// length that opens a CDR string and checks it as CDR requires (room for the
// closing NUL, at most `bound` characters unless `bound` is 0, no further
// than the message goes). Returns the length with the NUL. Throws
// CORBA::MARSHAL, as refuse_marshal does, when a check fails.
CORBA::ULong unmarshal_string_length(cdrStream& s, CORBA::ULong bound = 0);
// Throws CORBA::MARSHAL with `minor` and the stream's completion status.
[[noreturn]] void refuse_marshal(cdrStream& s, CORBA::ULong minor);

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_CHAR_CODES_H_
