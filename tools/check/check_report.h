// What one run of the host tool found, and how it is printed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/published_values.h"

namespace qel::tool {

enum class CheckStage {
  kNoObject,      // the object could not be created or connected
  kStartRefused,  // StartCheck raised an error
  kTimedOut,      // no completion event in time
  kServerEnded,   // a call found the object's server gone: no event will come
  kCompleted,     // UpdateCheckComplete arrived
};

struct CheckReport {
  CheckStage stage = CheckStage::kNoObject;
  int32_t error = 0;
  std::u16string description;
  std::optional<PublishedValues> values;              // read after a completion event
  std::optional<bool> upgradeAvailable;               // when a version was given
  std::optional<std::array<int32_t, 3>> hostVersion;  // the version given
  // Why the version file was refused, one finding a line (uceInvalidFile).
  std::vector<std::string> explanation;
};

enum class PublishedOrder { kNewer, kSame, kOlder };

// The published version against the host's, major, then minor, then build;
// nothing without both, or after a failed check.
std::optional<PublishedOrder> PublishedIs(const CheckReport& report);

// The one JSON object printed with --json (UTF-8, no trailing newline).
std::string ReportJson(const CheckReport& report);
// The same for a person, with system messages for WinINet and system errors.
std::string ReportText(const CheckReport& report);
// 0 the published version is not newer (or no version given), 1 it is newer,
// 2 anything else.
int ExitStatus(const CheckReport& report);
// The one-line message for stderr when the exit status is 2.
std::string FailureLine(const CheckReport& report);

}  // namespace qel::tool
