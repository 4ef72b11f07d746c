#include "retrieval/exact_ansi.h"

#include <windows.h>

namespace qel {

std::optional<std::string> ExactAnsi(std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int length = static_cast<int>(text.size());
  BOOL lossy = FALSE;
  const int size =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, &lossy);
  if (size <= 0 || lossy) return std::nullopt;
  std::string ansi(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, ansi.data(), size, nullptr,
                          &lossy) != size ||
      lossy) {
    return std::nullopt;
  }
  return ansi;
}

}  // namespace qel
