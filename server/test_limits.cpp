#include "server/test_limits.h"

#include <windows.h>

#include <cwchar>

namespace qel::com {

CheckLimits LimitsFromEnvironment() noexcept {
  wchar_t text[16] = {};
  const DWORD length = GetEnvironmentVariableW(kTestLimitVariable, text, 16);
  if (length == 0 || length >= 16) return {};
  wchar_t* end = nullptr;
  const long ms = std::wcstol(text, &end, 10);
  if (end == text || *end != L'\0' || ms < 1 || ms > CheckLimits::kDownloadLimit.count()) {
    return {};
  }
  return CheckLimits::Within(std::chrono::milliseconds(ms));
}

}  // namespace qel::com
