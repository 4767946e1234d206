#include "runtime/pm/repository_servant.h"

#include <list>
#include <string>

#include "runtime/corba/call.h"

namespace qo::pm {

using qo::corba::servant_call;

repository_servant_t::repository_servant_t(repository_if_t* imp) : imp_(imp) {}

repository_servant_t::~repository_servant_t() {
  if (imp_owner()) delete imp_;
}

void repository_servant_t::publish(const char* key, const char* value) {
  servant_call([&] { imp_->publish(key, value); });
}

void repository_servant_t::publish_ex(const char* key, const char* value,
                                      CORBA::Long option) {
  servant_call([&] { imp_->publish_ex(key, value, option); });
}

void repository_servant_t::unpublish(const char* key) {
  servant_call([&] { imp_->unpublish(key); });
}

CORBA::Boolean repository_servant_t::value_get(const char* key,
                                               qoc::pm::value_t_out value) {
  std::string answer;
  const bool found = servant_call([&] { return imp_->value_get(key, answer); });
  value = CORBA::string_dup(answer.c_str());
  return found;
}

void repository_servant_t::keys_get(const char* pattern,
                                    qoc::pm::key_seq_t_out keys,
                                    CORBA::Boolean flag) {
  std::list<std::string> found;
  servant_call([&] { imp_->keys_get(pattern, found, flag); });
  const CORBA::ULong length = static_cast<CORBA::ULong>(found.size());
  qoc::pm::key_seq_t_var answer = new qoc::pm::key_seq_t(length);
  answer->length(length);
  CORBA::ULong i = 0;
  for (const std::string& key : found) answer[i++] = key.c_str();
  keys = answer._retn();
}

void repository_servant_t::notify(const char* s1, const char* s2,
                                  CORBA::ULong n, CORBA::Long p) {
  servant_call([&] { imp_->notify(s1, s2, n, p); });
}

void repository_servant_t::notify_ex(const char* s1, const char* s2,
                                     const char* s3, CORBA::ULong n,
                                     CORBA::Long p) {
  servant_call([&] { imp_->notify_ex(s1, s2, s3, n, p); });
}

void repository_servant_t::ping() {
  servant_call([&] { imp_->ping(); });
}

}  // namespace qo::pm
