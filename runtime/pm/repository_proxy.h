// repository_proxy_t is the client side of a Velto repository: it
// implements repository_if_t by forwarding each call to a remote
// qoc::pm::repository_i object. Remote failures arrive as qo exceptions
// (runtime/corba/call.h); transport failures always as
// qo::corba::exception_t, which the pump catches by name. Results are
// written into the caller's string or list only once the reply arrived.
//
// Owns its object reference, never the remote object. No lock of its own:
// one proxy serves one thread at a time.
#ifndef QO_RUNTIME_PM_REPOSITORY_PROXY_H_
#define QO_RUNTIME_PM_REPOSITORY_PROXY_H_

#include <cstdint>
#include <list>
#include <string>

#include "qoc_pm.hh"
#include "runtime/pm/repository_if.h"

namespace qo::pm {

class repository_proxy_t : public repository_if_t {
 public:
  // Keeps its own duplicate of `object`.
  explicit repository_proxy_t(const qoc::pm::repository_i_var& object);
  ~repository_proxy_t() override;
  repository_proxy_t(const repository_proxy_t&) = delete;
  repository_proxy_t& operator=(const repository_proxy_t&) = delete;

  void publish(const std::string& key, const std::string& value) override;
  void publish_ex(const std::string& key, const std::string& value,
                  int32_t option) override;
  void unpublish(const std::string& key) override;
  bool value_get(const std::string& key, std::string& value) override;
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool flag) override;
  void notify(const std::string& s1, const std::string& s2, uint32_t n,
              int32_t p) override;
  void notify_ex(const std::string& s1, const std::string& s2,
                 const std::string& s3, uint32_t n, int32_t p) override;
  void ping() override;

  // The held reference, borrowed.
  qoc::pm::repository_i_ptr object() const { return object_.in(); }

 private:
  qoc::pm::repository_i_var object_;
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_REPOSITORY_PROXY_H_
