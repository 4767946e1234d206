#include "app/log_line.h"

#include "app/output/decimal.h"

namespace {

// Every date and time number has at least two digits.
constexpr int kTimeFieldWidth = 2;

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

void AppendLogTime(const qo::log::log_time_t& t, std::string& out) {
  AppendDecimal(t.month, kTimeFieldWidth, out);
  out.push_back('/');
  AppendDecimal(t.day, kTimeFieldWidth, out);
  out.push_back('/');
  AppendDecimal(t.year, kTimeFieldWidth, out);
  out.push_back(' ');
  AppendDecimal(t.hour, kTimeFieldWidth, out);
  out.push_back(':');
  AppendDecimal(t.minute, kTimeFieldWidth, out);
  out.push_back(':');
  AppendDecimal(t.second, kTimeFieldWidth, out);
}

void AppendLogLine(const qo::log::log_entry_t& entry, std::string& out) {
  AppendLogTime(entry.when, out);
  out.append("\t ");
  AppendDecimal(entry.index, 1, out);
  out.append("\t ");
  out.append(SeverityName(entry.severity));
  out.push_back('\t');
  out.append(entry.s_who);
  out.push_back('\t');
  out.append(entry.s_what);
  out.push_back('\n');
}
