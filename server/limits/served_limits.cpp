#include "server/limits/served_limits.h"

namespace qel::com {

CheckLimits ServedLimits() noexcept { return {}; }

}  // namespace qel::com
