#include "tools/console_text.h"

#include <cstdio>

#include "common/text.h"

namespace qel::tool {
namespace {

bool IsBidiControl(char16_t unit) {
  return (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

}  // namespace

std::string ConsoleText(std::u16string_view text) {
  std::u16string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool lineBreak =
        unit == u'\n' || (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    if (lineBreak || (!control && !IsBidiControl(unit))) {
      shown += unit;
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, control ? "\\x%02x" : "\\u%04x",
                  static_cast<unsigned>(unit));
    for (const char* c = escape; *c != '\0'; ++c) shown += static_cast<char16_t>(*c);
  }
  return TextToUtf8(shown);
}

std::string ConsoleText(std::string_view utf8) { return ConsoleText(Utf8ToText(utf8)); }

}  // namespace qel::tool
