#include "runtime/pm/repository_proxy.h"

#include "runtime/corba/call.h"

namespace qo::pm {

using qo::corba::client_call;

repository_proxy_t::repository_proxy_t(const qoc::pm::repository_i_var& object)
    : object_(qoc::pm::repository_i::_duplicate(object.in())) {}

repository_proxy_t::~repository_proxy_t() = default;

void repository_proxy_t::publish(const std::string& key,
                                 const std::string& value) {
  client_call([&] { object_->publish(key.c_str(), value.c_str()); });
}

void repository_proxy_t::publish_ex(const std::string& key,
                                    const std::string& value, int32_t option) {
  client_call([&] { object_->publish_ex(key.c_str(), value.c_str(), option); });
}

void repository_proxy_t::unpublish(const std::string& key) {
  client_call([&] { object_->unpublish(key.c_str()); });
}

bool repository_proxy_t::value_get(const std::string& key, std::string& value) {
  CORBA::String_var answer;
  const bool found = client_call(
      [&] { return object_->value_get(key.c_str(), answer.out()); });
  if (found) value.assign(answer.in());
  return found;
}

void repository_proxy_t::keys_get(const std::string& pattern,
                                  std::list<std::string>& keys, bool flag) {
  qoc::pm::key_seq_t_var answer;
  client_call([&] { object_->keys_get(pattern.c_str(), answer.out(), flag); });
  for (CORBA::ULong i = 0; i < answer->length(); ++i) {
    keys.emplace_back(answer[i].in());
  }
}

void repository_proxy_t::notify(const std::string& s1, const std::string& s2,
                                uint32_t n, int32_t p) {
  client_call([&] { object_->notify(s1.c_str(), s2.c_str(), n, p); });
}

void repository_proxy_t::notify_ex(const std::string& s1, const std::string& s2,
                                   const std::string& s3, uint32_t n,
                                   int32_t p) {
  client_call(
      [&] { object_->notify_ex(s1.c_str(), s2.c_str(), s3.c_str(), n, p); });
}

void repository_proxy_t::ping() {
  client_call([&] { object_->ping(); });
}

}  // namespace qo::pm
