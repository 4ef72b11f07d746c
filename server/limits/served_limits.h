// The limits of every check this server runs. The shipped server links
// served_limits.cpp, the fixed limits; the test suites' own build of the
// server links a shorter one (tests/com/test_server_limits.cpp). Nothing a
// host does can change them.
#pragma once

#include "retrieval/check_limits.h"

namespace qel::com {

CheckLimits ServedLimits() noexcept;

}  // namespace qel::com
