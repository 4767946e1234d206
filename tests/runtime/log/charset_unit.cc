// A unit's log manager as foreign firmware might serve it, for the code set
// tests: a plain omniORB servant, apart from the runtime, whose ORB declares
// the native char code set named on the command line (UTF-8, ISO-8859-1).
// Its log holds one entry per further argument, given in hex so that any
// bytes reach it: entry i has index i, s_who the text and s_what "what: "
// and the text. find_next, find_previous and find_relative answer the entry
// at index `from`, if there is one.
//
// Usage: log_charset_unit CODESET HEX...
// Prints "ior IOR" and "ready" once serving; runs until killed.
#include <omniORB4/CORBA.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "qoc_log.hh"

namespace {

struct text_entry_t {
  std::string who;
  std::string what;
};

class unit_t : public virtual POA_qoc::log::manager_i {
 public:
  explicit unit_t(std::vector<text_entry_t> log) : log_(std::move(log)) {}

  qoc::log::entry_seq_t* get_since(CORBA::ULong since,
                                   CORBA::ULong count) override {
    return answer(since, count);
  }
  qoc::log::entry_seq_t* get_last(CORBA::ULong count) override {
    const CORBA::ULong size = static_cast<CORBA::ULong>(log_.size());
    return answer(count < size ? size - count : 0, count);
  }
  CORBA::Boolean find_relative(qoc::log::entry_t_out found, CORBA::ULong from,
                               CORBA::Long, CORBA::Long, CORBA::Long) override {
    return find(found, from);
  }
  CORBA::Boolean find_previous(qoc::log::entry_t_out found, CORBA::ULong from,
                               CORBA::Long, CORBA::Long) override {
    return find(found, from);
  }
  CORBA::Boolean find_next(qoc::log::entry_t_out found, CORBA::ULong from,
                           CORBA::Long, CORBA::Long) override {
    return find(found, from);
  }
  void range(CORBA::ULong& first, CORBA::ULong& last) override {
    first = 0;
    last = static_cast<CORBA::ULong>(log_.size());
  }
  void post(const qoc::log::entry_seq_t&,
            const qoc::log::datestamp_t&) override {
    throw qoc::exception_x("read-only log");
  }
  void clear_logs() override { throw qoc::exception_x("read-only log"); }
  qoc::log::manager_i_ptr logon(const char*, const char*) override {
    throw qoc::errorcode_x(0x20000402, "no sessions");
  }
  void destroy() override { throw qoc::exception_x("not a session"); }

 private:
  void fill(CORBA::ULong index, qoc::log::entry_t& out) const {
    out.s_who = log_[index].who.c_str();
    out.severity = static_cast<CORBA::Long>(index);
    out.i_what = -static_cast<CORBA::Long>(index);
    out.s_what = log_[index].what.c_str();
    out.when = {2024, 2, 29, 23, 59, 59, index};
    out.index = index;
  }
  qoc::log::entry_seq_t* answer(CORBA::ULong from, CORBA::ULong count) {
    qoc::log::entry_seq_t_var seq = new qoc::log::entry_seq_t;
    for (CORBA::ULong i = from; i < log_.size() && i - from < count; ++i) {
      seq->length(seq->length() + 1);
      fill(i, seq[seq->length() - 1]);
    }
    return seq._retn();
  }
  CORBA::Boolean find(qoc::log::entry_t_out found, CORBA::ULong from) {
    qoc::log::entry_t_var entry = new qoc::log::entry_t;
    const bool hit = from < log_.size();
    if (hit) fill(from, entry.inout());
    found = entry._retn();
    return hit;
  }

  const std::vector<text_entry_t> log_;
};

bool from_hex(const std::string& hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    out += static_cast<char>(std::strtoul(pair.c_str(), &end, 16));
    if (*end != '\0') return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<text_entry_t> log;
  for (int i = 2; i < argc; ++i) {
    std::string text;
    if (!from_hex(argv[i], text)) argc = 0;
    log.push_back({text, "what: " + text});
  }
  if (argc < 2) {
    std::cerr << "usage: log_charset_unit CODESET HEX..." << std::endl;
    return 2;
  }
  try {
    const char* options[][2] = {{"nativeCharCodeSet", argv[1]},
                                {"endPoint", "giop:tcp:127.0.0.1:"},
                                {"traceLevel", "0"},
                                {nullptr, nullptr}};
    int no_argc = 0;
    char* no_argv[] = {nullptr};
    CORBA::ORB_var orb = CORBA::ORB_init(no_argc, no_argv, "omniORB4", options);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
// GCC 12 under AddressSanitizer takes the skeleton's virtual base for an
// access past the new servant; it is not one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    PortableServer::Servant_var<unit_t> unit = new unit_t(std::move(log));
#pragma GCC diagnostic pop
    PortableServer::ObjectId_var id = poa->activate_object(unit);
    CORBA::Object_var reference = poa->id_to_reference(id);
    CORBA::String_var ior = orb->object_to_string(reference);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    std::cout << "ior " << ior.in() << "\nready" << std::endl;
    orb->run();
  } catch (const CORBA::Exception& e) {
    std::cerr << "log_charset_unit: " << e._name() << std::endl;
    return 1;
  }
  return 0;
}
