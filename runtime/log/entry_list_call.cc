#include "runtime/log/entry_list_call.h"

#include <omniORB4/IOP_C.h>
#include <omniORB4/callDescriptor.h>
#include <omniORB4/internal/orbParameters.h>

#include <string>

#include "runtime/log/log_convert.h"

namespace qo::log {

namespace {

[[noreturn]] void bad_reply(cdrStream& s, CORBA::ULong minor) {
  throw CORBA::MARSHAL(minor,
                       static_cast<CORBA::CompletionStatus>(s.completion()));
}

// Reads a CDR string into `out`. When the transmission code set is the
// native one the bytes are taken as they are, as omniORB's own fast path
// does; otherwise omniORB converts them.
void read_string(cdrStream& s, bool raw, std::string& out) {
  if (!raw) {
    CORBA::String_var text = s.unmarshalString();
    out.assign(text.in());
    return;
  }
  CORBA::ULong length;
  length <<= s;
  if (length == 0) {
    bad_reply(s, omni::MARSHAL_StringNotEndWithNull);
  }
  if (!s.checkInputOverrun(1, length)) {
    bad_reply(s, omni::MARSHAL_PassEndOfMessage);
  }
  out.resize(length - 1);
  if (length > 1) {
    s.get_octet_array(reinterpret_cast<CORBA::Octet*>(&out[0]),
                      static_cast<int>(length - 1));
  }
  if (s.unmarshalOctet() != 0) {
    bad_reply(s, omni::MARSHAL_StringNotEndWithNull);
  }
}

// Reads an entry_seq_t, member by member in IDL order, into `out`.
void read_entries(cdrStream& s, log_entry_list_t& out) {
  omni::omniCodeSet::NCS_C* native = omni::orbParameters::nativeCharCodeSet;
  omni::omniCodeSet::TCS_C* sent = s.TCS_C();
  const bool raw =
      native != nullptr && sent != nullptr && native->id() == sent->id();
  CORBA::ULong count;
  count <<= s;
  if (!s.checkInputOverrun(1, count)) {
    bad_reply(s, omni::MARSHAL_PassEndOfMessage);
  }
  for (CORBA::ULong i = 0; i < count; ++i) {
    log_entry_t& entry = out.emplace_back();
    read_string(s, raw, entry.s_who);
    (CORBA::Long&)entry.severity <<= s;
    (CORBA::Long&)entry.i_what <<= s;
    read_string(s, raw, entry.s_what);
    log_time_t& when = entry.when;
    for (uint32_t* field : {&when.year, &when.month, &when.day, &when.hour,
                            &when.minute, &when.second, &when.microsec}) {
      (CORBA::ULong&)* field <<= s;
    }
    (CORBA::ULong&)entry.index <<= s;
  }
}

const char* const kUserExceptions[] = {qoc::errorcode_x::_PD_repoId,
                                       qoc::exception_x::_PD_repoId};

// One get_since (two arguments) or get_last (one) request.
class entry_list_call_t : public omniCallDescriptor {
 public:
  entry_list_call_t(bool since, CORBA::ULong first, CORBA::ULong second)
      : omniCallDescriptor(&local_call, since ? "get_since" : "get_last",
                           since ? 10 : 9, 0, kUserExceptions, 2, 0),
        since_(since),
        first_(first),
        second_(second) {}

  void marshalArguments(cdrStream& s) override {
    first_ >>= s;
    if (since_) second_ >>= s;
  }

  void unmarshalReturnedValues(cdrStream& s) override {
    result.clear();
    read_entries(s, result);
  }

  void userException(cdrStream& s, omni::IOP_C* iop_client,
                     const char* repo_id) override {
    if (omni::strMatch(repo_id, qoc::errorcode_x::_PD_repoId)) {
      qoc::errorcode_x e;
      e <<= s;
      if (iop_client) iop_client->RequestCompleted();
      throw e;
    }
    if (omni::strMatch(repo_id, qoc::exception_x::_PD_repoId)) {
      qoc::exception_x e;
      e <<= s;
      if (iop_client) iop_client->RequestCompleted();
      throw e;
    }
    if (iop_client) iop_client->RequestCompleted(1);
    throw CORBA::UNKNOWN(omni::UNKNOWN_UserException,
                         static_cast<CORBA::CompletionStatus>(s.completion()));
  }

  log_entry_list_t result;

 private:
  // A servant in this process: its own sequence, converted.
  static void local_call(omniCallDescriptor* descriptor, omniServant* servant) {
    auto* call = static_cast<entry_list_call_t*>(descriptor);
    auto* impl = static_cast<qoc::log::_impl_manager_i*>(
        servant->_ptrToInterface(qoc::log::manager_i::_PD_repoId));
    qoc::log::entry_seq_t_var seq =
        call->since_ ? impl->get_since(call->first_, call->second_)
                     : impl->get_last(call->first_);
    call->result.clear();
    take_entries(seq.inout(), call->result);
  }

  const bool since_;
  const CORBA::ULong first_;
  const CORBA::ULong second_;
};

void invoke(qoc::log::manager_i_ptr object, entry_list_call_t& call,
            log_entry_list_t& out) {
  object->_invoke(call);
  out.clear();
  out.splice(out.end(), call.result);
}

}  // namespace

void call_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                    uint32_t count, log_entry_list_t& out) {
  entry_list_call_t call(true, since, count);
  invoke(object, call, out);
}

void call_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                   log_entry_list_t& out) {
  entry_list_call_t call(false, count, 0);
  invoke(object, call, out);
}

}  // namespace qo::log
