// Conversions between the IDL forms of log data (qoc::log) and the native
// ones (qo::log), shared by the log manager's proxy and servant. Numbers and
// time stamps are copied field by field; strings are copied (a CORBA string
// ends at its first NUL, so a native string is cut there).
//
// The list conversions take their source apart as they go: each string is
// released once copied, so that a long log never needs room for both
// copies at once. Stateless; any thread.
#ifndef QO_RUNTIME_LOG_LOG_CONVERT_H_
#define QO_RUNTIME_LOG_LOG_CONVERT_H_

#include "qoc_log.hh"
#include "runtime/log/log_types.h"

namespace qo::log {

log_time_t to_native(const qoc::log::datestamp_t& when);
qoc::log::datestamp_t to_idl(const log_time_t& when);

void to_native(const qoc::log::entry_t& entry, log_entry_t& out);
void to_idl(const log_entry_t& entry, qoc::log::entry_t& out);

// Fills `out` from `entry`, whose strings are emptied.
void take_entry(qoc::log::entry_t& entry, log_entry_t& out);
// A new sequence holding the entries of `list` in list order; `list` is
// left empty.
qoc::log::entry_seq_t* give_entries(log_entry_list_t& list);

// Copies without taking the source apart, for requests whose arguments
// belong to the caller.
void copy_entries(const log_entry_list_t& list, qoc::log::entry_seq_t& out);
void copy_entries(const qoc::log::entry_seq_t& seq, log_entry_list_t& out);

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_LOG_CONVERT_H_
