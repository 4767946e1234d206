// What a call to a log manager throws, rendered as "class|message|code" so
// that tests compare the exception's class, text and code in one assertion.
// Classes: sec, errorcode, exception, corba (qo::corba::exception_t), std
// (any other std::exception) and raw (a CORBA system exception nobody
// translated, by name).
#ifndef KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_
#define KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_

#include <omniORB4/CORBA.h>

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
  } catch (const std::exception& e) {
    return std::string("std|") + e.what();
  } catch (const CORBA::SystemException& e) {
    return std::string("raw|") + e._name();  // nobody translated it
  }
}

}  // namespace qo::log::test_support

#endif  // KRTLOGS_TESTS_RUNTIME_LOG_OUTCOME_H_
