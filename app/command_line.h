// The tool's argument list and the option lookup the run driver uses: an
// option is found by exact, case-sensitive comparison of a whole argument,
// and its value is the next argument unless that one begins with "-".
#ifndef KRTLOGS_APP_COMMAND_LINE_H_
#define KRTLOGS_APP_COMMAND_LINE_H_

#include <cstddef>
#include <string>
#include <vector>

class CCommandLine {
 public:
  // Keeps every argument after the program name.
  CCommandLine(int argc, const char* const* argv);

  // True when some argument equals `option`; the search position is then
  // the argument after its first occurrence. False changes nothing.
  bool Find(const std::string& option);

  // When the argument at the search position exists and does not begin
  // with "-", stores it into `value`, advances and returns true; otherwise
  // returns false and leaves `value` alone. Called right after Find.
  bool GetValue(std::string& value);

  // Like GetValue, but takes the argument at the search position whatever
  // it begins with; false only when there is none. For options whose value
  // is checked by the caller.
  bool GetAnyValue(std::string& value);

  const std::vector<std::string>& arguments() const { return arguments_; }

 private:
  std::vector<std::string> arguments_;
  size_t position_ = 0;
};

#endif  // KRTLOGS_APP_COMMAND_LINE_H_
