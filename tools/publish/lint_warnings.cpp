// The linter's warnings, and the small text helpers its parts share.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/text.h"
#include "tools/publish/lint_text.h"

namespace qel::tool {
namespace {

using Warning = LintFinding<LintWarning>;

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }
bool IsHexDigit(char16_t ch) {
  return IsDigit(ch) || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

std::string Tag(size_t line) { return "line " + std::to_string(line) + ": "; }

void NumberWarnings(std::u16string_view line, std::u16string_view key, int32_t number,
                    size_t lineNo, std::vector<Warning>& out) {
  const std::u16string_view value = line.substr(key.size());
  const std::u16string part = NumberPart(value);
  std::u16string stripped;
  for (const char16_t ch : value) {
    if (!IsBlank(ch)) stripped += ch;
  }
  const std::string shown = Quoted(Shown(line));
  const std::string reads = std::to_string(number);
  const bool anyDigit = std::any_of(part.begin(), part.end(), IsDigit);
  if (part.starts_with(u"&")) {
    const bool hex = part.size() > 1 && AsciiLower(part[1]) == u'h';
    out.push_back(
        {LintWarning::kRadixNumber, lineNo,
         Tag(lineNo) + shown + " is " + (hex ? "hexadecimal" : "octal") + " and reads as " + reads,
         "write the number in decimal"});
  } else if (!anyDigit) {
    out.push_back({LintWarning::kNotANumber, lineNo,
                   Tag(lineNo) + shown + " does not begin with a number and reads as 0",
                   "write a whole number"});
    return;
  } else {
    if (part.find_first_of(u".eE") != std::u16string::npos) {
      const std::string ascii = TextToUtf8(part);
      if (std::strtod(ascii.c_str(), nullptr) != static_cast<double>(number)) {
        out.push_back({LintWarning::kRoundedFraction, lineNo,
                       Tag(lineNo) + shown + " is not a whole number and reads as " + reads,
                       "fractions are rounded, an exact half to the even neighbour"});
      }
    }
    const size_t digits = part.starts_with(u"+") || part.starts_with(u"-") ? 1 : 0;
    if (part.size() > digits + 1 && part[digits] == u'0' && IsDigit(part[digits + 1])) {
      out.push_back({LintWarning::kZeroPadded, lineNo,
                     Tag(lineNo) + shown + " has leading zeros and reads as " + reads,
                     "write the number without leading zeros: versions compare as numbers, "
                     "not as text"});
    }
  }
  if (number < 0) {
    out.push_back({LintWarning::kNegativeNumber, lineNo,
                   Tag(lineNo) + shown + " reads as " + reads + ", a negative number",
                   "versions compare number by number, and a negative one is below 0; write a "
                   "number from 0 up"});
  }
  if (stripped.size() > part.size()) {
    out.push_back({LintWarning::kTrailingText, lineNo,
                   Tag(lineNo) + shown + " reads as " + reads + "; the text after the number (`" +
                       Shown(std::u16string_view(stripped).substr(part.size())) + "`) is ignored",
                   "remove the text after the number"});
  }
}

// The first bytes that form a UTF-8 sequence of two to four bytes.
std::optional<std::pair<size_t, size_t>> FirstUtf8(std::string_view bytes, size_t from) {
  for (size_t i = from; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || i + length > bytes.size()) continue;
    bool continued = true;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      continued = continued && next >= 0x80 && next <= 0xBF;
    }
    if (continued) return std::make_pair(i, length);
  }
  return std::nullopt;
}

void HistoryWarnings(std::string_view bytes, std::u16string_view text, const LintWalk& walk,
                     std::vector<Warning>& out) {
  const size_t start = walk.lineStart;
  // Positions in the text are byte offsets in a single-byte code page; the
  // check is about that case.
  if (text.size() == bytes.size()) {
    if (const auto found = FirstUtf8(bytes, start)) {
      const auto [at, length] = *found;
      std::string hex;
      for (size_t k = 0; k < length; ++k) {
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, "%s%02X", k == 0 ? "" : " ",
                      static_cast<unsigned char>(bytes[at + k]));
        hex += buffer;
      }
      const size_t lineNo = LineOfPosition(text, at);
      out.push_back({LintWarning::kUtf8InHistory, lineNo,
                     Tag(lineNo) + "bytes " + hex + " look like UTF-8 for `" +
                         TextToUtf8(Utf8ToText(bytes.substr(at, length))) +
                         "`; they are read as Windows-1252: `" + Shown(text.substr(at, length)) +
                         "`",
                     "save the file as ANSI (Windows-1252), or write it with updatecheck make"});
    }
  }
  if (!text.ends_with(u"\r\n")) {
    // A last line ended by a lone LF is that line, not the empty one after it.
    const bool lineFeed = text.ends_with(u"\n");
    const size_t lineNo = LineOfPosition(text, text.size() - (lineFeed ? 1 : 0));
    out.push_back({LintWarning::kHistoryWithoutCrLf, lineNo,
                   Tag(lineNo) + (lineFeed ? "the version history's last line ends with LF only"
                                           : "the version history does not end with CR LF"),
                   "end the last line with CR LF"});
  }
}

// The first character beyond ASCII: hosts read the bytes in their own code
// page, so it shows as written only on some of them.
void BeyondAsciiWarning(std::u16string_view text, std::vector<Warning>& out) {
  const auto found = std::find_if(text.begin(), text.end(), [](char16_t ch) { return ch > 0x7F; });
  if (found == text.end()) return;
  const size_t at = static_cast<size_t>(found - text.begin());
  const bool pair = *found >= 0xD800 && *found < 0xDC00 && at + 1 < text.size();
  const std::u16string_view ch = text.substr(at, pair ? 2 : 1);
  const uint32_t code = pair ? 0x10000 + ((ch[0] - 0xD800u) << 10) + (ch[1] - 0xDC00u) : ch[0];
  char number[16];
  std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
  const size_t lineNo = LineOfPosition(text, at);
  out.push_back({LintWarning::kBeyondAscii, lineNo,
                 Tag(lineNo) + "`" + TextToUtf8(ch) + "` (" + number +
                     ") is beyond ASCII: each host reads the file in its own ANSI code page, "
                     "and shows it as written only where that is the code page it was saved in",
                 "for hosts worldwide, keep the file ASCII"});
}

}  // namespace

TextLine NextLine(std::u16string_view text, size_t from) {
  const size_t crlf = text.find(u"\r\n", from);
  if (crlf == std::u16string_view::npos) return {from, text.size(), text.size()};
  return {from, crlf, crlf + 2};
}

size_t LineOfPosition(std::u16string_view text, size_t position) {
  const auto end = text.begin() + static_cast<ptrdiff_t>(std::min(position, text.size()));
  return 1 + static_cast<size_t>(std::count(text.begin(), end, u'\n'));
}

std::string Shown(std::u16string_view text) {
  constexpr size_t kLimit = 80;
  std::u16string shown;
  for (size_t i = 0; i < text.size() && i < kLimit; ++i) {
    const char16_t ch = text[i];
    if (ch == u'\r') {
      shown += u"\\r";
    } else if (ch == u'\n') {
      shown += u"\\n";
    } else if (ch == u'\t') {
      shown += u"\\t";
    } else if (ch < 0x20 || ch == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(ch));
      shown += Utf8ToText(buffer);
    } else {
      shown += ch;
    }
  }
  if (text.size() > kLimit) shown += u"...";
  return TextToUtf8(shown);
}

std::u16string NumberPart(std::u16string_view value) {
  std::u16string s;
  for (const char16_t ch : value) {
    if (!IsBlank(ch)) s += ch;
  }
  size_t i = 0;
  const size_t n = s.size();
  if (n > 0 && s[0] == u'&') {
    if (n < 2) return {};
    const char16_t radix = AsciiLower(s[1]);
    if (radix != u'h' && radix != u'o') return {};
    i = 2;
    while (i < n && (radix == u'h' ? IsHexDigit(s[i]) : s[i] >= u'0' && s[i] <= u'7')) ++i;
    return s.substr(0, i);
  }
  if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
  bool point = false;
  bool digits = false;
  for (; i < n; ++i) {
    if (IsDigit(s[i])) {
      digits = true;
    } else if (s[i] == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return {};
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == u'+' || s[j] == u'-')) ++j;
    if (j < n && IsDigit(s[j])) {
      while (j < n && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  return s.substr(0, i);
}

std::vector<LintFinding<LintWarning>> LintWarnings(std::string_view bytes, std::u16string_view text,
                                                   const LintWalk& walk) {
  std::vector<Warning> out;
  size_t pos = NextLine(text, 0).next;
  const int32_t numbers[] = {walk.values.major, walk.values.minor, walk.values.build};
  for (int step = 1; step <= 4 && step < walk.stepsPassed; ++step) {
    const TextLine line = NextLine(text, pos);
    pos = line.next;
    const std::u16string_view content = text.substr(line.start, line.end - line.start);
    const std::u16string_view key = kVersionFileKeys[static_cast<size_t>(step)];
    const size_t lineNo = LineOfPosition(text, line.start);
    if (step < 4) {
      NumberWarnings(content, key, numbers[step - 1], lineNo, out);
    } else {
      const std::u16string_view value = content.substr(key.size());
      if (IsBlank(value.front()) || IsBlank(value.back())) {
        out.push_back({LintWarning::kUpdateSpaces, lineNo,
                       Tag(lineNo) + "the `update=` value begins or ends with a space or tab",
                       "remove them: the update text is passed on as it stands"});
      }
    }
  }
  if (walk.stepsPassed == 6) {
    HistoryWarnings(bytes, text, walk, out);
    // Bytes that look like UTF-8 are warned about already, more exactly.
    const bool utf8 = std::any_of(out.begin(), out.end(), [](const Warning& warning) {
      return warning.kind == LintWarning::kUtf8InHistory;
    });
    if (!utf8) BeyondAsciiWarning(text, out);
  }
  return out;
}

}  // namespace qel::tool
