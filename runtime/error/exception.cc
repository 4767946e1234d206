#include "runtime/error/exception.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "runtime/error/error_codes.h"
#include "runtime/error/format.h"

namespace qo {

exception_t::exception_t() = default;

exception_t::exception_t(const std::string& message) : message(message) {}

exception_t::exception_t(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  message = vformat(fmt, args);
  va_end(args);
}

exception_t::~exception_t() = default;

const char* exception_t::what() const noexcept { return message.c_str(); }

errorcode_t::errorcode_t(uint32_t code)
    : exception_t(error_text(code)), code_(code) {}

errorcode_t::errorcode_t(uint32_t code, const std::string& context)
    : exception_t(context + ": " + error_text(code)), code_(code) {}

errorcode_t::errorcode_t(const std::string& message, uint32_t code)
    : exception_t(message), code_(code) {}

const error_entry_t* errorcode_t::find(uint32_t code) {
  return find_error(code);
}

namespace sec {

exception_t::exception_t(uint32_t code) : errorcode_t(code) {}

access_denied_t::access_denied_t() : exception_t(errc::sec_access_denied) {}

logon_fail_t::logon_fail_t() : exception_t(errc::sec_logon_fail) {}

}  // namespace sec

namespace pos {

namespace {

std::string error_text_of(int n) {
  const char* text = strerror(n);
  if (text == nullptr || *text == '\0') {
    return "OS error# " + std::to_string(n);
  }
  return text;
}

}  // namespace

std::string last_error_text() { return error_text_of(errno); }

// errno is read once, before any allocation can disturb it.
exception_t::exception_t() : os_error_(errno) {
  message = error_text_of(os_error_);
}

exception_t::exception_t(const char* context) : os_error_(errno) {
  message = std::string(context) + ": " + error_text_of(os_error_);
}

exception_t::exception_t(const std::string& context) : os_error_(errno) {
  message = context + ": " + error_text_of(os_error_);
}

void ensure(bool condition, const char* context) {
  if (!condition) throw exception_t(context);
}

}  // namespace pos

namespace corba {

const char* completion_name(completion_t completed) {
  switch (completed) {
    case completion_t::yes:
      return "YES";
    case completion_t::no:
      return "NO";
    case completion_t::maybe:
      return "MAYBE";
    case completion_t::unknown:
      break;
  }
  return "UNKNOWN";
}

std::string system_exception_info_t::text() const {
  const std::string minor_text =
      minor_name.empty() ? qo::format("0x%08x", static_cast<unsigned>(minor))
                         : minor_name;
  return name + " (" + minor_text +
         ", completed = " + completion_name(completed) + ")";
}

exception_t::exception_t(const char* text) : text_(text) {}

exception_t::exception_t(const std::string& text) : text_(text) {}

exception_t::exception_t(const std::string& text,
                         const system_exception_info_t& info)
    : text_(text), info_(info) {}

exception_t::~exception_t() = default;

const char* exception_t::what() const noexcept { return text_.c_str(); }

}  // namespace corba

namespace pproc {

thread_stop_exception_t::thread_stop_exception_t() = default;

}  // namespace pproc

void ensure(bool condition, const std::string& text) {
  if (!condition) throw exception_t(text);
}

}  // namespace qo
