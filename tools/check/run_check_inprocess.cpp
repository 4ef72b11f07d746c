// The Linux build's host: the portable object in this process, its event
// bound directly, and this thread's message loop running the check.
#include <chrono>

#include "common/error.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tools/check/run_check.h"
#include "trigger/message_loop.h"

namespace qel::tool {

CheckReport RunCheck(const CheckOptions& options, Deadline deadline) {
  CheckReport report;
  try {
    const auto check = UpdateCheck::Create();
    bool completed = false;
    const Connection binding =
        check->UpdateCheckComplete.Bind([&](int32_t number, std::u16string description) {
          completed = true;
          report.error = number;
          report.description = std::move(description);
        });
    try {
      check->StartCheck(Utf8ToText(options.url));
    } catch (const Error& e) {
      report.stage = CheckStage::kStartRefused;
      report.error = e.Number();
      report.description = e.Description();
      return report;
    }
    if (!PumpMessagesUntil([&] { return completed; }, TimeLeft(deadline))) {
      return TimedOutReport(options);
    }
    report.stage = CheckStage::kCompleted;
    PublishedValues values;
    values.major = check->Major();
    values.minor = check->Minor();
    values.build = check->Build();
    values.updateURL = check->UpdateURL();
    values.versionHistory = check->VersionHistory();
    report.values = std::move(values);
    if (options.version) {
      const auto& [major, minor, build] = *options.version;
      report.upgradeAvailable = check->IsUpgradeAvailable(major, minor, build);
    }
  } catch (const Error& e) {
    report.stage = CheckStage::kNoObject;
    report.error = e.Number();
    report.description = e.Description();
  }
  return report;
}

}  // namespace qel::tool
