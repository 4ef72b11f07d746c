// The test build's limits, in place of server/limits/served_limits.cpp. The
// suites that run against it count on 1.5 s (fault_com_test.cpp).
#include "server/limits/served_limits.h"

namespace qel::com {

CheckLimits ServedLimits() noexcept { return CheckLimits::Within(std::chrono::milliseconds(1500)); }

}  // namespace qel::com
