#include "tools/run_check.h"

#include <cstdio>

#include "common/text.h"

namespace qel::tool {

std::chrono::milliseconds WaitFor(const CheckOptions& options) {
  return std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0 + 0.5));
}

CheckReport TimedOutReport(const CheckOptions& options) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", options.timeoutSeconds);
  CheckReport report;
  report.stage = CheckStage::kTimedOut;
  report.error = kTimeoutError;
  report.description = Utf8ToText("no answer from the check of " + options.url + " within " +
                                  seconds + " s; the check was given up");
  return report;
}

}  // namespace qel::tool
