// What -h, --help and --version ask of velto-repo and krt-sim. Every option
// of both programs takes one value, so a request counts only where an
// option stands (the first argument, the third, ...), not as another
// option's value; it then wins over everything else on the command line,
// which is neither checked nor acted on. Plain functions, any thread.
#ifndef KRTLOGS_TOOLS_TOOL_INFO_H_
#define KRTLOGS_TOOLS_TOOL_INFO_H_

#include <string>
#include <vector>

enum class info_request_t { kNone, kHelp, kVersion };

// The first request at an option's place in `args` (the arguments after
// the program name); kNone when there is none.
info_request_t FindInfoRequest(const std::vector<std::string>& args);

// What `program` prints on standard output for `request`: for kHelp its
// `usage` line and a line with the help and version forms, for kVersion
// "<program> <version>" (the version krtlogs --version prints); each line
// ends with "\n". Empty for kNone.
std::string InfoText(info_request_t request, const std::string& program,
                     const std::string& usage);

#endif  // KRTLOGS_TOOLS_TOOL_INFO_H_
