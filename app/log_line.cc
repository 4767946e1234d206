#include "app/log_line.h"

#include <iomanip>

namespace {

// Unsigned decimal, at least two digits.
void AppendPadded(uint32_t value, std::string& out) {
  if (value < 10) out.push_back('0');
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

const char* SeverityName(int32_t severity) {
  switch (severity) {
    case 0:
      return "verbiage";
    case 1:
      return "note";
    case 2:
      return "warning";
    case 3:
      return "error";
    default:
      return "fault";
  }
}

void AppendLogLine(const qo::log::log_entry_t& entry, std::string& out) {
  const qo::log::log_time_t& t = entry.when;
  AppendPadded(t.month, out);
  out.push_back('/');
  AppendPadded(t.day, out);
  out.push_back('/');
  AppendPadded(t.year, out);
  out.push_back(' ');
  AppendPadded(t.hour, out);
  out.push_back(':');
  AppendPadded(t.minute, out);
  out.push_back(':');
  AppendPadded(t.second, out);
  out.append("\t ");
  out.append(std::to_string(entry.index));
  out.append("\t ");
  out.append(SeverityName(entry.severity));
  out.push_back('\t');
  out.append(entry.s_who);
  out.push_back('\t');
  out.append(entry.s_what);
  out.push_back('\n');
}

namespace qo::log {

std::ostream& operator<<(std::ostream& out, const log_time_t& when) {
  out.fill('0');
  out << std::setw(2) << when.month << '/' << std::setw(2) << when.day << '/'
      << std::setw(2) << when.year << ' ' << std::setw(2) << when.hour << ':'
      << std::setw(2) << when.minute << ':' << std::setw(2) << when.second;
  return out;
}

}  // namespace qo::log
