// What a call to a log manager throws, rendered as "class|message|code" so
// that tests compare the exception's class, text and code in one assertion.
#ifndef KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_
#define KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_

#include <functional>
#include <string>

#include "runtime/error/exception.h"

namespace qo::log::test_support {

inline std::string Outcome(const std::function<void()>& call) {
  try {
    call();
    return "none";
  } catch (const qo::sec::exception_t& e) {
    return std::string("sec|") + e.what() + "|" + std::to_string(e.code());
  } catch (const qo::errorcode_t& e) {
    return std::string("errorcode|") + e.what() + "|" +
           std::to_string(e.code());
  } catch (const qo::exception_t& e) {
    return std::string("exception|") + e.what();
  } catch (const qo::corba::exception_t& e) {
    return std::string("corba|") + e.what();
  }
}

}  // namespace qo::log::test_support

#endif  // KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_
