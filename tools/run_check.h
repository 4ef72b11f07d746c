// Runs one check through UpdateCheck: out of process through COM in the
// Windows build, with the in-process object in the Linux build.
#pragma once

#include "tools/check_options.h"
#include "tools/check_report.h"

namespace qel::tool {

CheckReport RunCheck(const CheckOptions& options);

// The number reported when no completion event arrives in time
// (ERROR_TIMEOUT).
inline constexpr int32_t kTimeoutError = 1460;

}  // namespace qel::tool
