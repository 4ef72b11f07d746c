#include "retrieval/exact_ansi.h"

#include <windows.h>

namespace qel {

std::optional<std::string> ExactAnsi(std::u16string_view text) {
  // Windows' "Use Unicode UTF-8 for worldwide language support" makes the
  // ANSI code page UTF-8, which takes neither the best-fit flag nor the
  // question whether a default character was used.
  return ExactInCodePage(GetACP() == CP_UTF8 ? CP_UTF8 : CP_ACP, text);
}

std::optional<std::string> ExactInCodePage(unsigned codePage, std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int length = static_cast<int>(text.size());
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const askLossy = utf8 ? nullptr : &lossy;
  const int size =
      WideCharToMultiByte(codePage, flags, wide, length, nullptr, 0, nullptr, askLossy);
  if (size <= 0 || lossy) return std::nullopt;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, flags, wide, length, bytes.data(), size, nullptr, askLossy) !=
          size ||
      lossy) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace qel
