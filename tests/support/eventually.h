// Waiting in tests for something another thread does: Eventually polls a
// condition until it holds or a minute has passed. The minute is a bound
// for loaded machines, never a timing a test relies on.
#ifndef KRTLOGS_TESTS_SUPPORT_EVENTUALLY_H_
#define KRTLOGS_TESTS_SUPPORT_EVENTUALLY_H_

#include <functional>

namespace testing_support {

// True once `done` returns true; false when it still did not after a
// minute.
bool Eventually(const std::function<bool()>& done);

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_EVENTUALLY_H_
