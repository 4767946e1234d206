// get_since and get_last written by hand beneath the generated stub, so that
// a reply is decoded entry by entry as it arrives: into a native list, or
// into an entry_sink_t through one reused record. The generated stub first
// builds the whole IDL sequence, two CORBA strings per entry, which the
// proxy would then copy and free; for a unit's whole log that doubles the
// time and memory of the call, and it could never stream.
//
// On the wire these are the generated requests: same operation, arguments,
// reply and exceptions (tests/runtime/log/wire_guard_test.cc holds them to
// the generated stub and skeleton byte for byte). A collocated object is
// called through its servant, and its sequence converted.
//
// Each function runs its request inside qo::corba::client_call, so failures
// arrive as qo exceptions. The list forms replace `out` only once the whole
// reply has been read. The stream forms call sink.begin with the count the
// reply announces, then sink.entry for each entry in order. An exception
// thrown by the sink ends the call and leaves it unchanged; the rest of the
// reply is dropped with its connection, which is never used again. A
// connection lost part-way fails the call with qo::corba::exception_t after
// the entries already handed over. Any thread; the sink is called on the
// caller's.
#ifndef QO_RUNTIME_LOG_INTERNAL_ENTRY_LIST_CALL_H_
#define QO_RUNTIME_LOG_INTERNAL_ENTRY_LIST_CALL_H_

#include <cstdint>

#include "qoc_log.hh"
#include "runtime/log/entry_sink.h"
#include "runtime/log/log_types.h"

namespace qo::log {

void call_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                    uint32_t count, log_entry_list_t& out);
void call_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                   log_entry_list_t& out);

void stream_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                      uint32_t count, entry_sink_t& sink);
void stream_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                     entry_sink_t& sink);

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_INTERNAL_ENTRY_LIST_CALL_H_
