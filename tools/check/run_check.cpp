#include "tools/check/run_check.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "tools/check/server_ended.h"

namespace qel::tool {

Deadline RunDeadline(const CheckOptions& options) {
  return std::chrono::steady_clock::now() +
         std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0 + 0.5));
}

std::chrono::milliseconds TimeLeft(Deadline deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds(0));
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

CheckReport ServerEndedReport(int32_t result) {
  CheckReport report;
  report.stage = CheckStage::kServerEnded;
  report.error = result;
  const char* name = ServerEndedName(result);
  report.description =
      Utf8ToText(std::string("the update checker's server ended during the check") +
                 (name ? std::string(" (") + name + ")" : ""));
  return report;
}

}  // namespace qel::tool
