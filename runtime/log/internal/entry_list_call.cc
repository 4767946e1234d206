#include "runtime/log/internal/entry_list_call.h"

#include <cxxabi.h>
#include <omniORB4/IOP_C.h>
#include <omniORB4/callDescriptor.h>

#include <exception>
#include <memory>
#include <string>

#include "runtime/corba/call.h"
#include "runtime/corba/char_codes.h"
#include "runtime/log/log_convert.h"

namespace qo::log {

namespace {

// Operation names as they travel. omniCallDescriptor takes each with a
// length that counts its closing NUL, as sizeof does.
constexpr char kGetSince[] = "get_since";
constexpr char kGetLast[] = "get_last";

// What both operations may raise, as their raises clauses list it.
const char* const kUserExceptions[] = {qoc::errorcode_x::_PD_repoId,
                                       qoc::exception_x::_PD_repoId};
constexpr int kUserExceptionCount =
    sizeof(kUserExceptions) / sizeof(kUserExceptions[0]);

// Reads a CDR string into `out`, reusing its storage. When the program is
// to get the bytes as sent (runtime/corba/char_codes.h), they are copied
// straight out of the reply; otherwise omniORB converts them.
void read_string(cdrStream& s, bool unchanged, std::string& out) {
  if (!unchanged) {
    CORBA::String_var text = s.unmarshalString();
    out.assign(text.in());
    return;
  }
  const CORBA::ULong with_nul = qo::corba::unmarshal_string_length(s);
  out.resize(with_nul - 1);
  if (with_nul > 1) {
    s.get_octet_array(reinterpret_cast<CORBA::Octet*>(&out[0]),
                      static_cast<int>(with_nul - 1));
  }
  if (s.unmarshalOctet() != 0) {
    qo::corba::refuse_marshal(s, omni::MARSHAL_StringNotEndWithNull);
  }
}

// Where decoded entries go.
class entry_target_t {
 public:
  virtual ~entry_target_t() = default;
  // Before the first entry, with the number the reply announces.
  virtual void begin(CORBA::ULong count) = 0;
  // The record the next entry is decoded into.
  virtual log_entry_t& next() = 0;
  // The record next() gave holds a whole entry.
  virtual void filled() = 0;
};

// Reads an entry_seq_t, member by member in IDL order.
void read_entries(cdrStream& s, entry_target_t& target) {
  const bool unchanged = qo::corba::strings_pass_unchanged(s);
  const CORBA::ULong count = s.unmarshalULong();
  // A count the message cannot hold is refused before anyone hears of it.
  if (!s.checkInputOverrun(1, count)) {
    qo::corba::refuse_marshal(s, omni::MARSHAL_PassEndOfMessage);
  }
  target.begin(count);
  for (CORBA::ULong i = 0; i < count; ++i) {
    log_entry_t& entry = target.next();
    read_string(s, unchanged, entry.s_who);
    entry.severity = s.unmarshalLong();
    entry.i_what = s.unmarshalLong();
    read_string(s, unchanged, entry.s_what);
    log_time_t& when = entry.when;
    when.year = s.unmarshalULong();
    when.month = s.unmarshalULong();
    when.day = s.unmarshalULong();
    when.hour = s.unmarshalULong();
    when.minute = s.unmarshalULong();
    when.second = s.unmarshalULong();
    when.microsec = s.unmarshalULong();
    entry.index = s.unmarshalULong();
    target.filled();
  }
}

// A collocated servant's sequence, each entry's strings freed once taken.
void convert_entries(qoc::log::entry_seq_t& seq, entry_target_t& target) {
  const CORBA::ULong count = seq.length();
  target.begin(count);
  for (CORBA::ULong i = 0; i < count; ++i) {
    take_entry(seq[i], target.next());
    target.filled();
  }
}

// Collects the entries in a list of its own, handed over at the end.
class list_target_t : public entry_target_t {
 public:
  // A request omniORB sent again starts a fresh list.
  void begin(CORBA::ULong) override { entries.clear(); }
  log_entry_t& next() override { return entries.emplace_back(); }
  void filled() override {}

  log_entry_list_t entries;
};

// Thrown in place of whatever the sink threw while a reply is being read:
// nothing in omniORB's remote call path or in the client-side translation
// catches it, so the call unwinds untouched by either (no retry, no
// translation), and the sink's own exception is thrown again once past
// them.
struct sink_failed_t {};

// Hands each entry to the sink in one reused record.
class sink_target_t : public entry_target_t {
 public:
  explicit sink_target_t(entry_sink_t& sink) : sink_(sink) {}

  void begin(CORBA::ULong count) override {
    guarded([&] { sink_.begin(count); });
  }
  log_entry_t& next() override { return entry_; }
  void filled() override {
    guarded([&] { sink_.entry(entry_); });
  }

  std::exception_ptr failure;  // what the sink threw

 private:
  template <typename F>
  void guarded(F&& body) {
    try {
      body();
    } catch (const abi::__forced_unwind&) {
      throw;  // thread cancellation must unwind on
    } catch (...) {
      failure = std::current_exception();
      throw sink_failed_t();
    }
  }

  entry_sink_t& sink_;
  log_entry_t entry_;
};

// One get_since (two arguments) or get_last (one) request.
class entry_list_call_t : public omniCallDescriptor {
 public:
  entry_list_call_t(bool since, CORBA::ULong first, CORBA::ULong second,
                    entry_target_t& target)
      : omniCallDescriptor(&local_call, since ? kGetSince : kGetLast,
                           since ? sizeof(kGetSince) : sizeof(kGetLast),
                           /*oneway=*/false, kUserExceptions,
                           kUserExceptionCount, /*is_upcall=*/false),
        since_(since),
        first_(first),
        second_(second),
        target_(target) {}

  void marshalArguments(cdrStream& s) override {
    s.marshalULong(first_);
    if (since_) s.marshalULong(second_);
  }

  void unmarshalReturnedValues(cdrStream& s) override {
    read_entries(s, target_);
  }

  // A collocated servant's answer, handed to the target once the call is
  // over: omniORB turns whatever leaves a local call into CORBA::UNKNOWN, so
  // the sink must not run inside it.
  void deliver_local_answer() {
    if (local_answer_) convert_entries(*local_answer_, target_);
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
    // Skips the rest of the reply, so that the connection stays usable.
    if (iop_client) iop_client->RequestCompleted(/*skip=*/true);
    throw CORBA::UNKNOWN(omni::UNKNOWN_UserException,
                         static_cast<CORBA::CompletionStatus>(s.completion()));
  }

 private:
  static void local_call(omniCallDescriptor* descriptor, omniServant* servant) {
    auto* call = static_cast<entry_list_call_t*>(descriptor);
    auto* impl = static_cast<qoc::log::_impl_manager_i*>(
        servant->_ptrToInterface(qoc::log::manager_i::_PD_repoId));
    call->local_answer_.reset(call->since_
                                  ? impl->get_since(call->first_, call->second_)
                                  : impl->get_last(call->first_));
  }

  const bool since_;
  const CORBA::ULong first_;
  const CORBA::ULong second_;
  entry_target_t& target_;
  std::unique_ptr<qoc::log::entry_seq_t> local_answer_;
};

void list_call(qoc::log::manager_i_ptr object, bool since, uint32_t first,
               uint32_t second, log_entry_list_t& out) {
  list_target_t target;
  entry_list_call_t call(since, first, second, target);
  qo::corba::client_call([&] { object->_invoke(call); });
  call.deliver_local_answer();
  out.clear();
  out.splice(out.end(), target.entries);
}

void stream_call(qoc::log::manager_i_ptr object, bool since, uint32_t first,
                 uint32_t second, entry_sink_t& sink) {
  sink_target_t target(sink);
  entry_list_call_t call(since, first, second, target);
  try {
    qo::corba::client_call([&] { object->_invoke(call); });
    call.deliver_local_answer();
  } catch (const sink_failed_t&) {
    std::rethrow_exception(target.failure);
  }
}

}  // namespace

void call_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                    uint32_t count, log_entry_list_t& out) {
  list_call(object, true, since, count, out);
}

void call_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                   log_entry_list_t& out) {
  list_call(object, false, count, 0, out);
}

void stream_get_since(qoc::log::manager_i_ptr object, uint32_t since,
                      uint32_t count, entry_sink_t& sink) {
  stream_call(object, true, since, count, sink);
}

void stream_get_last(qoc::log::manager_i_ptr object, uint32_t count,
                     entry_sink_t& sink) {
  stream_call(object, false, count, 0, sink);
}

}  // namespace qo::log
