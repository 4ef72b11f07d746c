// How long a check may take. A server that never answers, stalls or trickles
// must not hold a check, or the object that runs it, for long.
#pragma once

#include <algorithm>
#include <chrono>

namespace qel {

struct CheckLimits {
  // WinINet's connect, send and receive time-outs, each.
  static constexpr std::chrono::milliseconds kWaitLimit{30'000};
  // The whole download, from the moment it starts; past it the check ends
  // with ERROR_INTERNET_TIMEOUT.
  static constexpr std::chrono::milliseconds kDownloadLimit{60'000};

  std::chrono::milliseconds wait = kWaitLimit;
  std::chrono::milliseconds download = kDownloadLimit;

  // Limits no longer than `bound`, for tests that cannot wait a minute.
  // Nothing longer than the defaults can be had this way.
  static CheckLimits Within(std::chrono::milliseconds bound) {
    const auto clamp = [&](std::chrono::milliseconds limit) {
      return std::clamp(bound, std::chrono::milliseconds(1), limit);
    };
    return CheckLimits{clamp(kWaitLimit), clamp(kDownloadLimit)};
  }
};

}  // namespace qel
