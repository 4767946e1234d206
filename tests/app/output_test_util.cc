#include "tests/app/output_test_util.h"

namespace output_test {

testing_support::ProcessResult RunPython(const std::string& script,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunProcess(argv);
}

}  // namespace output_test
