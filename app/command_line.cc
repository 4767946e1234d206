#include "app/command_line.h"

CCommandLine::CCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) arguments_.emplace_back(argv[i]);
}

bool CCommandLine::Find(const std::string& option) {
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (arguments_[i] == option) {
      position_ = i + 1;
      return true;
    }
  }
  return false;
}

bool CCommandLine::GetValue(std::string& value) {
  if (position_ >= arguments_.size()) return false;
  const std::string& argument = arguments_[position_];
  if (!argument.empty() && argument[0] == '-') return false;
  value = argument;
  ++position_;
  return true;
}

bool CCommandLine::GetAnyValue(std::string& value) {
  if (position_ >= arguments_.size()) return false;
  value = arguments_[position_++];
  return true;
}
