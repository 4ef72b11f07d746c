// What the linter's parts share: the version file's keys and lines as the
// parser sees them, and how a piece of the file is shown in a message.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/version_lint.h"

namespace qel::tool {

inline constexpr std::array<std::u16string_view, 5> kVersionFileKeys = {
    u"file=", u"major=", u"minor=", u"build=", u"update="};

// A line as the parser splits the text: up to the next CR LF, or the end.
struct TextLine {
  size_t start;
  size_t end;   // the CR of its CR LF, or the end of the text
  size_t next;  // where the next line starts
};
TextLine NextLine(std::u16string_view text, size_t from);

// The line number of a position, as an editor counts lines (by LF).
size_t LineOfPosition(std::u16string_view text, size_t position);

// UTF-8 for a message: control characters escaped, long text cut short.
std::string Shown(std::u16string_view text);

// `text`, for a key or value inside a message. Built by appending: GCC 12
// warns falsely (-Wrestrict) on "`" + text.
inline std::string Quoted(std::string text) {
  text.insert(text.begin(), '`');
  text += '`';
  return text;
}

// The blanks the numeric conversion drops.
inline bool IsBlank(char16_t ch) { return ch == u' ' || ch == u'\t' || ch == u'\n'; }
inline char16_t AsciiLower(char16_t ch) {
  return ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
}

// Values that are accepted but probably not meant, in the lines the walk
// got past.
std::vector<LintFinding<LintWarning>> LintWarnings(std::string_view bytes, std::u16string_view text,
                                                   const LintWalk& walk);

}  // namespace qel::tool
