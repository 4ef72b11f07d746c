// The test suites' way to shorten a check's limits in a server that COM
// starts for them: the server inherits its first host's environment. Only
// shorter limits can be had; without the variable the defaults hold.
#pragma once

#include "retrieval/check_limits.h"

namespace qel::com {

// QELUPDATECHECK_TEST_LIMIT_MS: a whole number of milliseconds, 1 to the
// download limit. Anything else is ignored.
inline constexpr wchar_t kTestLimitVariable[] = L"QELUPDATECHECK_TEST_LIMIT_MS";

CheckLimits LimitsFromEnvironment() noexcept;

}  // namespace qel::com
