#include "runtime/log/log_convert.h"

#include <cstring>
#include <string>

namespace qo::log {

namespace {

// A CORBA string holding `text` up to its first NUL.
char* dup_string(const std::string& text) {
  size_t length = strnlen(text.data(), text.size());
  char* copy = CORBA::string_alloc(static_cast<CORBA::ULong>(length));
  memcpy(copy, text.data(), length);
  copy[length] = '\0';
  return copy;
}

// Moves the numbers of `entry` into `out`, leaving the strings alone.
void copy_numbers(const qoc::log::entry_t& entry, log_entry_t& out) {
  out.severity = entry.severity;
  out.i_what = entry.i_what;
  out.when = to_native(entry.when);
  out.index = entry.index;
}

void copy_numbers(const log_entry_t& entry, qoc::log::entry_t& out) {
  out.severity = entry.severity;
  out.i_what = entry.i_what;
  out.when = to_idl(entry.when);
  out.index = entry.index;
}

// Copies `member` into `out` and frees the CORBA string.
void take_string(_CORBA_String_member& member, std::string& out) {
  out.assign(member.in());
  member = static_cast<char*>(nullptr);
}

}  // namespace

log_time_t to_native(const qoc::log::datestamp_t& when) {
  log_time_t out;
  out.year = when.year;
  out.month = when.month;
  out.day = when.day;
  out.hour = when.hour;
  out.minute = when.minute;
  out.second = when.second;
  out.microsec = when.microsec;
  return out;
}

qoc::log::datestamp_t to_idl(const log_time_t& when) {
  qoc::log::datestamp_t out;
  out.year = when.year;
  out.month = when.month;
  out.day = when.day;
  out.hour = when.hour;
  out.minute = when.minute;
  out.second = when.second;
  out.microsec = when.microsec;
  return out;
}

void to_native(const qoc::log::entry_t& entry, log_entry_t& out) {
  copy_numbers(entry, out);
  out.s_who.assign(entry.s_who.in());
  out.s_what.assign(entry.s_what.in());
}

void to_idl(const log_entry_t& entry, qoc::log::entry_t& out) {
  copy_numbers(entry, out);
  out.s_who = dup_string(entry.s_who);
  out.s_what = dup_string(entry.s_what);
}

void take_entry(qoc::log::entry_t& entry, log_entry_t& out) {
  copy_numbers(entry, out);
  take_string(entry.s_who, out.s_who);
  take_string(entry.s_what, out.s_what);
}

qoc::log::entry_seq_t* give_entries(log_entry_list_t& list) {
  const CORBA::ULong length = static_cast<CORBA::ULong>(list.size());
  qoc::log::entry_seq_t_var seq = new qoc::log::entry_seq_t(length);
  seq->length(length);
  for (CORBA::ULong i = 0; i < length; ++i) {
    to_idl(list.front(), seq[i]);
    list.pop_front();
  }
  return seq._retn();
}

void copy_entries(const log_entry_list_t& list, qoc::log::entry_seq_t& out) {
  out.length(static_cast<CORBA::ULong>(list.size()));
  CORBA::ULong i = 0;
  for (const log_entry_t& entry : list) to_idl(entry, out[i++]);
}

void copy_entries(const qoc::log::entry_seq_t& seq, log_entry_list_t& out) {
  for (CORBA::ULong i = 0; i < seq.length(); ++i) {
    to_native(seq[i], out.emplace_back());
  }
}

}  // namespace qo::log
