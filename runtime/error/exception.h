// The exception family of the qo runtime. Every failure in the library is
// reported by throwing one of these by value; catch by reference, the most
// derived class first (errorcode_t before exception_t before std::exception).
//
// Two members of the family sit deliberately apart:
//  - qo::corba::exception_t derives from std::exception only, so a handler
//    for qo::exception_t does not swallow transport failures;
//  - qo::pproc::thread_stop_exception_t derives privately from exception_t,
//    so neither a qo::exception_t nor a std::exception handler can swallow a
//    thread stop: code that must let it through names it explicitly.
#ifndef QO_RUNTIME_ERROR_EXCEPTION_H_
#define QO_RUNTIME_ERROR_EXCEPTION_H_

#include <cstdint>
#include <exception>
#include <string>

#include "runtime/error/error_codes.h"

namespace qo {

class exception_t : public std::exception {
 public:
  exception_t();
  explicit exception_t(const std::string& message);
  // The message is formatted with qo::format, so it is cut at 510 characters.
  explicit exception_t(const char* fmt, ...)
      __attribute__((format(printf, 2, 3)));
  ~exception_t() override;

  const char* what() const noexcept override;

 protected:
  std::string message;
};

class errorcode_t : public exception_t {
 public:
  // Message: the code's description (or the unknown-code text).
  explicit errorcode_t(uint32_t code);
  // Message: context, ": ", then the code's description.
  errorcode_t(uint32_t code, const std::string& context);
  // Message taken unchanged; used for texts that arrive from a remote peer.
  errorcode_t(const std::string& message, uint32_t code);

  uint32_t code() const { return code_; }

  // First table row for `code`, or null.
  static const error_entry_t* find(uint32_t code);

 private:
  uint32_t code_;
};

namespace sec {

class exception_t : public errorcode_t {
 public:
  explicit exception_t(uint32_t code);
};

class access_denied_t : public exception_t {
 public:
  access_denied_t();
};

class logon_fail_t : public exception_t {
 public:
  logon_fail_t();
};

}  // namespace sec

namespace pos {

// strerror(errno), or "OS error# <n>" when the system has no text for it.
std::string last_error_text();

// An operating-system failure; captures errno when constructed.
class exception_t : public qo::exception_t {
 public:
  exception_t();
  explicit exception_t(const char* context);
  explicit exception_t(const std::string& context);

  int32_t os_error() const { return os_error_; }

 private:
  int32_t os_error_;
};

// Throws pos::exception_t(context) when `condition` is false.
void ensure(bool condition, const char* context);

}  // namespace pos

namespace corba {

// Whether the failed request was carried out, as the ORB saw it; unknown
// when no system exception said.
enum class completion_t { no, yes, maybe, unknown };

// What a CORBA system exception said, kept beside its text so that callers
// can tell failures apart without reading the text.
struct system_exception_info_t {
  std::string name;        // "TRANSIENT"; empty when no system exception
  uint32_t minor = 0;      // the minor code as received
  std::string minor_name;  // "TRANSIENT_ConnectFailed"; empty when unknown
  completion_t completed = completion_t::unknown;

  // "TRANSIENT (TRANSIENT_ConnectFailed, completed = NO)"; the minor code
  // in hexadecimal when it has no name.
  std::string text() const;
};

// "YES", "NO", "MAYBE" or "UNKNOWN".
const char* completion_name(completion_t completed);

// A CORBA system exception or transport failure, already turned into text.
class exception_t : public std::exception {
 public:
  // A failure that is no system exception (info().name stays empty).
  explicit exception_t(const char* text);
  explicit exception_t(const std::string& text);
  exception_t(const std::string& text, const system_exception_info_t& info);
  ~exception_t() override;

  const char* what() const noexcept override;
  const system_exception_info_t& info() const { return info_; }

 private:
  std::string text_;
  system_exception_info_t info_;
};

}  // namespace corba

namespace pproc {

// Thrown inside a thread that is being stopped. The private base keeps it
// out of every ordinary handler.
class thread_stop_exception_t : private qo::exception_t {
 public:
  thread_stop_exception_t();
};

}  // namespace pproc

// Throws qo::exception_t(text) when `condition` is false.
void ensure(bool condition, const std::string& text);

}  // namespace qo

#endif  // QO_RUNTIME_ERROR_EXCEPTION_H_
