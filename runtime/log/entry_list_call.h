// get_since and get_last requests whose reply is read straight into a
// native list. The generated stub would first build an IDL sequence, with
// two CORBA strings per entry, that the proxy then copies and frees; for a
// unit's whole log that costs as much as reading the reply itself and
// doubles the memory the call needs. Here each string goes from the
// reply's bytes into its std::string once.
//
// The requests are the generated ones on the wire (same operation, same
// arguments, same reply, same exceptions); a collocated object is called
// through its servant and its sequence converted. CORBA exceptions
// propagate unchanged, so callers wrap these in qo::corba::client_call.
// `out` is replaced only once the whole reply has been read. Any thread.
#ifndef QO_RUNTIME_LOG_ENTRY_LIST_CALL_H_
#define QO_RUNTIME_LOG_ENTRY_LIST_CALL_H_

#include <cstdint>

#include "qoc_log.hh"
#include "runtime/log/log_types.h"

namespace qo::log {

void call_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                    uint32_t count, log_entry_list_t& out);
void call_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                   log_entry_list_t& out);

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_ENTRY_LIST_CALL_H_
