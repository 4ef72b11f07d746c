// Runs one check through UpdateCheck: out of process through COM in the
// Windows build, with the in-process object in the Linux build.
#pragma once

#include <chrono>

#include "tools/check/check_options.h"
#include "tools/check/check_report.h"

namespace qel::tool {

using Deadline = std::chrono::steady_clock::time_point;

// The end of the whole run: the options' time-out from now.
Deadline RunDeadline(const CheckOptions& options);

// Waits for the completion event up to the deadline; past it the object is
// released, whatever its check is doing. Out of process it also asks the
// object once a second whether it is still there, and ends as soon as its
// server has gone.
CheckReport RunCheck(const CheckOptions& options, Deadline deadline);

// The number reported when no completion event arrives in time
// (ERROR_TIMEOUT).
inline constexpr int32_t kTimeoutError = 1460;

// What RunCheck reports when the time-out passes first: it names the URL and
// the seconds waited.
CheckReport TimedOutReport(const CheckOptions& options);

// What RunCheck reports when a call to the object fails with `result`
// because its server has gone (tools/check/server_ended.h).
CheckReport ServerEndedReport(int32_t result);

// What is left until the deadline, as the message loop takes it.
std::chrono::milliseconds TimeLeft(Deadline deadline);

}  // namespace qel::tool
