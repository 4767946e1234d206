// What test_repository (test_repository.cc) answers when it is told to fail,
// shared with the tests that check how the tool reports it.
#ifndef KRTLOGS_TESTS_APP_TEST_REPOSITORY_H_
#define KRTLOGS_TESTS_APP_TEST_REPOSITORY_H_

#include <cstdint>

#include "runtime/error/error_codes.h"

namespace test_repository {

// The text of the qoc::exception_x of "--fail OP:exception".
constexpr char kExceptionText[] = "the directory is being rebuilt";
// The code of the qoc::errorcode_x of "--fail OP:errorcode".
constexpr uint32_t kFailureCode = qo::errc::not_implemented;

}  // namespace test_repository

#endif  // KRTLOGS_TESTS_APP_TEST_REPOSITORY_H_
