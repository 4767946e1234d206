// The native interface of the Velto repository, a key/value directory.
// Implemented by the repository proxy, by the process-wide pump and by any
// local repository a program serves. Deleted through this interface.
#ifndef QO_RUNTIME_PM_REPOSITORY_IF_H_
#define QO_RUNTIME_PM_REPOSITORY_IF_H_

#include <cstdint>
#include <list>
#include <string>

namespace qo::pm {

class repository_if_t {
 public:
  virtual void publish(const std::string& key, const std::string& value) = 0;
  virtual void publish_ex(const std::string& key, const std::string& value,
                          int32_t option) = 0;
  virtual void unpublish(const std::string& key) = 0;
  // True when `value` was filled; on false `value` is left as it was.
  virtual bool value_get(const std::string& key, std::string& value) = 0;
  // Appends every key matching `pattern` ("*" stands for any text) at the
  // end of `keys`; `keys` is not cleared first.
  virtual void keys_get(const std::string& pattern,
                        std::list<std::string>& keys, bool flag) = 0;
  virtual void notify(const std::string& s1, const std::string& s2, uint32_t n,
                      int32_t p) = 0;
  virtual void notify_ex(const std::string& s1, const std::string& s2,
                         const std::string& s3, uint32_t n, int32_t p) = 0;
  virtual void ping() = 0;
  virtual ~repository_if_t() {}
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_REPOSITORY_IF_H_
