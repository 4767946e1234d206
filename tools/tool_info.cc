#include "tools/tool_info.h"

info_request_t FindInfoRequest(const std::vector<std::string>& args) {
  // Options sit at even positions, each followed by its value.
  for (size_t i = 0; i < args.size(); i += 2) {
    if (args[i] == "-h" || args[i] == "--help") return info_request_t::kHelp;
    if (args[i] == "--version") return info_request_t::kVersion;
  }
  return info_request_t::kNone;
}

std::string InfoText(info_request_t request, const std::string& program,
                     const std::string& usage) {
  switch (request) {
    case info_request_t::kHelp:
      return usage + "\n       " + program + " -h | --help | --version\n";
    case info_request_t::kVersion:
      return program + " " + KRTLOGS_VERSION + "\n";
    case info_request_t::kNone:
      break;
  }
  return std::string();
}
