#include "tools/publish/version_lint.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/error.h"
#include "common/text.h"
#include "retrieval/received_bytes.h"
#include "service/clsVersionTest.h"
#include "service/numeric_value.h"
#include "tools/publish/lint_text.h"

namespace qel::tool {
namespace {

using Finding = LintFinding<LintRule>;

std::string LineTag(size_t line) { return "line " + std::to_string(line) + ": "; }

// The first lone `ch` before `limit` (an LF without its CR, or a CR without
// its LF).
std::optional<size_t> FirstLone(std::u16string_view text, char16_t ch, size_t limit) {
  for (size_t i = 0; i < limit && i < text.size(); ++i) {
    if (text[i] != ch) continue;
    const bool paired =
        ch == u'\n' ? i > 0 && text[i - 1] == u'\r' : i + 1 < text.size() && text[i + 1] == u'\n';
    if (!paired) return i;
  }
  return std::nullopt;
}

// The text with every lone `ch` made a CR LF.
std::u16string WithCrLf(std::u16string_view text, char16_t ch) {
  std::u16string fixed;
  fixed.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lone = ch == u'\n' ? text[i] == ch && (i == 0 || text[i - 1] != u'\r')
                                  : text[i] == ch && (i + 1 == text.size() || text[i + 1] != u'\n');
    fixed += lone ? std::u16string_view(u"\r\n") : text.substr(i, 1);
  }
  return fixed;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

Finding KeyMissing(std::u16string_view content, int step, size_t line, bool atEnd) {
  const std::u16string_view key = kVersionFileKeys[static_cast<size_t>(step)];
  const std::string tag = LineTag(line);
  const std::string keyShown = Quoted(TextToUtf8(key));
  if (content.empty()) {
    if (atEnd) {
      return {LintRule::kKeyMissing, line, tag + "the file ends where " + keyShown + " belongs",
              "a version file has the lines file=, major=, minor=, build=, update= and a history"};
    }
    return {LintRule::kBlankLine, line, tag + "blank line where " + keyShown + " belongs",
            "remove it: nothing may come before or between the keyed lines"};
  }
  const std::u16string_view trimmed = TrimBlanks(content);
  if (step == 0 && trimmed.starts_with(u"<")) {
    return {LintRule::kHtmlPage, line, tag + "the text looks like an HTML page, not a version file",
            "the server may have sent an error page instead of the file"};
  }
  if (StartsWithNoCase(content, key)) {
    return {LintRule::kKeyCase, line,
            tag + "`" + Shown(content.substr(0, key.size())) + "` must be written " + keyShown,
            "keys are lower case"};
  }
  if (trimmed.size() < content.size() && StartsWithNoCase(trimmed, key)) {
    return {LintRule::kSpaceBeforeKey, line, tag + "space before " + keyShown,
            "keys must start their line"};
  }
  const std::u16string_view name = key.substr(0, key.size() - 1);
  if (StartsWithNoCase(trimmed, name)) {
    const std::u16string_view after = TrimBlanks(trimmed.substr(name.size()));
    if (after.starts_with(u"=")) {
      return {LintRule::kSpaceBeforeEquals, line, tag + "space before the = of " + keyShown,
              "write the key and its = with nothing between"};
    }
  }
  for (const std::u16string_view other : kVersionFileKeys) {
    if (other != key && content.starts_with(other)) {
      return {LintRule::kKeyOutOfOrder, line,
              tag + "`" + TextToUtf8(other) + "` found where " + keyShown + " belongs",
              "the keys go in this order: file=, major=, minor=, build=, update="};
    }
  }
  return {LintRule::kKeyMissing, line,
          tag + "expected " + keyShown + ", found `" + Shown(content) + "`",
          "a version file has the lines file=, major=, minor=, build=, update= and a history"};
}

std::string NameHint(std::u16string_view value, std::u16string_view url) {
  if (value.size() == url.size() && StartsWithNoCase(value, url)) {
    return "they differ in case; the comparison is exact, case included";
  }
  if (TrimBlanks(value) == url) return "remove the spaces around the URL";
  const auto rest = [](std::u16string_view u) {
    const size_t colon = u.find(u':');
    return colon == std::u16string_view::npos ? u : u.substr(colon);
  };
  if (rest(value) == rest(url)) {
    return "http and https are different URLs; name the one the host asks for";
  }
  if (value.find(u'?') != std::u16string_view::npos ||
      url.find(u'?') != std::u16string_view::npos) {
    return "a query string makes a different URL; name the URL exactly as the host asks for it";
  }
  return "the file= line must repeat the URL the host asks for, character for character";
}

Finding Explain(std::string_view bytes, std::u16string_view text, std::u16string_view url,
                const LintWalk& walk) {
  const int step = walk.stepsPassed;
  const size_t line = LineOfPosition(text, walk.lineStart);
  const std::string tag = LineTag(line);
  const std::u16string_view content = text.substr(walk.lineStart, walk.lineEnd - walk.lineStart);
  if (step >= 6) {
    return {LintRule::kUnexplained, line,
            tag +
                "the update checker refuses the file for a reason "
                "this linter does not know",
            "please report this file"};
  }
  const std::u16string_view key = kVersionFileKeys[static_cast<size_t>(std::min(step, 4))];
  if (walk.overflow) {
    return {LintRule::kOverflow, line,
            tag + "`" + Shown(content) + "` is beyond the signed 32-bit range",
            "the check ends with error 6 (Overflow); numbers run from -2147483648 to 2147483647"};
  }
  if (bytes.empty()) {
    return {LintRule::kEmptyFile, 1, "line 1: the file is empty",
            "a version file has the lines file=, major=, minor=, build=, update= and a history"};
  }
  if (step == 0 && bytes.starts_with("\xEF\xBB\xBF")) {
    return {LintRule::kByteOrderMark, 0, "byte 0: UTF-8 byte-order mark",
            "save the file as ANSI (Windows-1252), without a byte-order mark"};
  }
  if (step == 0 && (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))) {
    return {LintRule::kByteOrderMark, 0, "byte 0: UTF-16 byte-order mark",
            "save the file as ANSI (Windows-1252), not as Unicode"};
  }
  if (step == 0 && bytes.starts_with("\x1F\x8B")) {
    return {LintRule::kCompressed, 0, "byte 0: gzip-compressed data (bytes 1F 8B), not text",
            "serve the file uncompressed: no Content-Encoding on it, and no compression by a CDN"};
  }
  // A line end the parser does not see is to blame when the file, with
  // CR LF in its place, gets further.
  for (const char16_t end : {u'\n', u'\r'}) {
    const auto lone = FirstLone(text, end, walk.lineEnd + 1);
    if (lone && WalkVersionFile(WithCrLf(text, end), url).stepsPassed > step) {
      const size_t loneLine = LineOfPosition(text, *lone);
      return end == u'\n'
                 ? Finding{LintRule::kLineFeedOnly, loneLine,
                           LineTag(loneLine) + "line ends with LF only; the file must use CR LF",
                           "save the file with Windows (CR LF) line ends"}
                 : Finding{LintRule::kCarriageReturnOnly, loneLine,
                           LineTag(loneLine) + "line ends with CR only; the file must use CR LF",
                           "save the file with Windows (CR LF) line ends"};
    }
  }
  if (step == 5) {
    return {LintRule::kNoHistory, line, tag + "nothing follows the `update=` line",
            "the version history must not be empty: add at least one line after update="};
  }
  if (!content.starts_with(key)) {
    return KeyMissing(content, step, line, walk.lineEnd == text.size());
  }
  const std::u16string_view value = content.substr(key.size());
  if (step == 0) {
    return {LintRule::kFileNameDiffers, line,
            tag + "`file=` names " + Shown(value) + " but the URL is " + Shown(url),
            NameHint(value, url)};
  }
  if (value.empty()) {
    return {LintRule::kEmptyValue, line, tag + "`" + TextToUtf8(key) + "` has no value",
            step == 4 ? "write the update text (usually where the new release can be had)"
                      : "write a whole number after the ="};
  }
  if (step == 1) {
    return {LintRule::kMajorZero, line, tag + "`" + Shown(content) + "` reads as 0",
            "major must not be 0"};
  }
  return {LintRule::kUnexplained, line,
          tag + "the update checker refuses the file for a reason this linter does not know",
          "please report this file"};
}

}  // namespace

LintWalk WalkVersionFile(std::u16string_view text, std::u16string_view url) {
  LintWalk walk;
  size_t pos = 0;
  for (int step = 0; step < 5; ++step) {
    const TextLine line = NextLine(text, pos);
    walk.lineStart = line.start;
    walk.lineEnd = line.end;
    pos = line.next;
    const std::u16string_view key = kVersionFileKeys[static_cast<size_t>(step)];
    const std::u16string_view content = text.substr(line.start, line.end - line.start);
    const std::u16string_view value =
        content.starts_with(key) ? content.substr(key.size()) : std::u16string_view();
    if (step == 0) {
      if (value != url) return walk;
    } else if (value.empty()) {
      return walk;
    } else if (step < 4) {
      int32_t number = 0;
      try {
        number = ValueToLong(value);
      } catch (const Error& error) {
        if (error.Number() != kErrOverflow) throw;
        walk.overflow = true;
        return walk;
      }
      (step == 1 ? walk.values.major : step == 2 ? walk.values.minor : walk.values.build) = number;
      if (step == 1 && number == 0) return walk;
    } else {
      walk.values.updateURL = value;
    }
    walk.stepsPassed = step + 1;
  }
  walk.lineStart = pos;
  walk.lineEnd = text.size();
  walk.values.versionHistory = text.substr(pos);
  if (!walk.values.versionHistory.empty()) walk.stepsPassed = 6;
  return walk;
}

std::string ByteCount(size_t bytes) {
  constexpr size_t kMiB = 1024u * 1024u;
  if (bytes % kMiB == 0 && bytes != 0) {
    return std::to_string(bytes / kMiB) + " MiB (" + std::to_string(bytes) + " bytes)";
  }
  return std::to_string(bytes) + " bytes";
}

LintResult LintVersionFile(std::string_view bytes, std::u16string_view url, size_t maxBytes) {
  LintResult result;
  if (bytes.size() > maxBytes) {
    // The download stops here; no parse ever sees the file.
    result.tooLarge = true;
    result.error = {
        LintRule::kTooLarge, 0,
        "byte " + std::to_string(maxBytes) + ": the file is " + ByteCount(bytes.size()) +
            ", larger than " + ByteCount(maxBytes) +
            "; the check ends with error 223 (the file is too large)",
        "keep the version history short: the check downloads at most " + ByteCount(maxBytes)};
    return result;
  }
  ReceivedBytes received;
  received.Append(bytes.data(), bytes.size());
  const std::u16string text = received.ToText();

  // The verdict is the parser's own, on a parser of its own.
  clsVersionTest parser;
  try {
    result.accepted = parser.ExtractData(std::u16string(url), text);
  } catch (const Error& error) {
    if (error.Number() != kErrOverflow) throw;
    result.overflow = true;
  }
  if (result.accepted) {
    result.values = {parser.Major(), parser.Minor(), parser.Build(), parser.UpdateURL(),
                     parser.VersionHistory()};
  }
  const LintWalk walk = WalkVersionFile(text, url);
  if (!result.accepted) result.error = Explain(bytes, text, url, walk);
  result.warnings = LintWarnings(bytes, text, walk);
  return result;
}

}  // namespace qel::tool
