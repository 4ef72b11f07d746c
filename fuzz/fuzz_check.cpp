#include "fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>

namespace qel::fuzz {

void Fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\n*** fuzz check failed: %.*s\n", static_cast<int>(what.size()),
               what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

std::string Shown(std::u16string_view text) {
  // Long inputs are cut: the start and the length are enough to find the
  // reproducer, which libFuzzer saves whole.
  constexpr std::size_t kShownUnits = 400;
  std::string shown = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShownUnits; ++i) {
    const char16_t unit = text[i];
    if (unit >= 0x20 && unit < 0x7F && unit != u'\\' && unit != u'"') {
      shown += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      shown += escaped;
    }
  }
  shown += '"';
  if (text.size() > kShownUnits) shown += "... (" + std::to_string(text.size()) + " units)";
  return shown;
}

}  // namespace qel::fuzz
