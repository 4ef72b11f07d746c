#include "tools/publish/version_maker.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "common/text.h"
#include "tools/publish/version_lint.h"

namespace qel::tool {
namespace {

// Windows-1252's bytes 0x80 to 0x9F; 0 where the code page leaves a hole.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<char> Windows1252(char16_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<char>(ch);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] != 0 && kHighControls[i] == ch) return static_cast<char>(0x80 + i);
  }
  return std::nullopt;
}

bool IsUtf8(std::string_view text) { return TextToUtf8(Utf8ToText(text)) == text; }

// The text in Windows-1252, or the error naming the first character it
// cannot hold.
std::optional<std::string> Encode(std::u16string_view text, const std::string& where,
                                  std::string& error) {
  std::string bytes;
  bytes.reserve(text.size());
  size_t line = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (const auto byte = Windows1252(text[i])) {
      bytes += *byte;
      if (text[i] == u'\n') ++line;
      continue;
    }
    uint32_t code = text[i];
    size_t units = 1;
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      units = 2;
    }
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    error = where + (where.starts_with("the history") ? ", line " + std::to_string(line) : "") +
            ": `" + TextToUtf8(text.substr(i, units)) + "` (" + number +
            ") cannot be written in Windows-1252";
    return std::nullopt;
  }
  return bytes;
}

std::optional<int32_t> ParseNumber(std::string_view text) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::array<int32_t, 3>> ParseVersion(std::string_view text,
                                                   std::vector<std::string>& warnings) {
  static constexpr const char* kNames[] = {"major", "minor", "build"};
  std::array<int32_t, 3> version{};
  for (size_t k = 0; k < 3; ++k) {
    const size_t dot = k < 2 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view piece = text.substr(0, dot);
    const auto number = ParseNumber(piece);
    if (!number) return std::nullopt;
    version[k] = *number;
    const size_t digits = piece.starts_with('-') ? 1 : 0;
    if (piece.size() > digits + 1 && piece[digits] == '0') {
      warnings.push_back("--version: " + std::string(kNames[k]) + " `" + std::string(piece) +
                         "` has leading zeros; written as " + std::to_string(*number));
    }
    text = text.substr(std::min(dot + 1, text.size()));
  }
  return version;
}

bool IsSpaceOrTab(char ch) { return ch == ' ' || ch == '\t'; }

MadeVersionFile Failed(std::string error) { return {{}, std::move(error), {}}; }

}  // namespace

MadeVersionFile MakeVersionFile(std::string_view url, std::string_view version,
                                std::string_view update, std::string_view history,
                                size_t maxBytes) {
  std::vector<std::string> warnings;
  const auto numbers = ParseVersion(version, warnings);
  if (!numbers) {
    return Failed("--version wants MAJOR.MINOR.BUILD, three whole numbers of 32 bits, not '" +
                  std::string(version) + "'");
  }
  const auto [major, minor, build] = *numbers;
  if (major == 0) {
    return Failed("major is 0: the update checker refuses a version file whose major is 0");
  }
  if (url.empty()) return Failed("--url is empty");
  if (IsSpaceOrTab(url.front()) || IsSpaceOrTab(url.back())) {
    return Failed(
        "--url begins or ends with a space or tab: the `file=` line must repeat the "
        "URL the host asks for exactly, and a host's URL has none");
  }
  if (update.empty()) return Failed("--update is empty: the update text must not be empty");
  for (const auto& [name, value] : {std::pair{"--url", url}, std::pair{"--update", update}}) {
    if (value.find_first_of("\r\n") != std::string_view::npos) {
      return Failed(std::string(name) + " must be one line");
    }
    if (value.find('\0') != std::string_view::npos) {
      return Failed(std::string(name) + " holds a NUL character");
    }
    if (!IsUtf8(value)) return Failed(std::string(name) + " is not UTF-8 text");
  }
  if (history.starts_with("\xEF\xBB\xBF")) history.remove_prefix(3);
  if (!IsUtf8(history)) return Failed("the history is not UTF-8 text");

  const std::string versionText =
      std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
  std::u16string historyText;
  const std::u16string historySource =
      history.empty() ? u"Version " + Utf8ToText(versionText) : Utf8ToText(history);
  for (size_t i = 0; i < historySource.size(); ++i) {
    if (historySource[i] == u'\n' && (i == 0 || historySource[i - 1] != u'\r'))
      historyText += u'\r';
    historyText += historySource[i];
  }
  if (!historyText.ends_with(u"\r\n")) historyText += u"\r\n";

  // Every character that can be written is one byte: the size is known now.
  const std::string head = "file=\r\nmajor=" + std::to_string(major) +
                           "\r\nminor=" + std::to_string(minor) +
                           "\r\nbuild=" + std::to_string(build) + "\r\nupdate=\r\n";
  const size_t size =
      head.size() + Utf8ToText(url).size() + Utf8ToText(update).size() + historyText.size();
  if (size > maxBytes) {
    return Failed("the file made would be " + ByteCount(size) + ", larger than " +
                  ByteCount(maxBytes) + ": a check of it ends with error 223; shorten the history");
  }

  std::string error;
  const auto urlBytes = Encode(Utf8ToText(url), "--url", error);
  if (!urlBytes) return Failed(error + ", so the `file=` line cannot repeat the URL");
  const auto updateBytes = Encode(Utf8ToText(update), "--update", error);
  const auto historyBytes = updateBytes ? Encode(historyText, "the history", error) : std::nullopt;
  if (!historyBytes) return Failed(error);

  MadeVersionFile made;
  made.bytes = "file=" + *urlBytes + "\r\nmajor=" + std::to_string(major) +
               "\r\nminor=" + std::to_string(minor) + "\r\nbuild=" + std::to_string(build) +
               "\r\nupdate=" + *updateBytes + "\r\n" + *historyBytes;
  // What this machine's update checker makes of it: the same parser decides.
  const LintResult check = LintVersionFile(made.bytes, Utf8ToText(url), maxBytes);
  if (!check.accepted) {
    return Failed("the update checker here would refuse the file made: " +
                  (check.error ? check.error->message : std::string("overflow")));
  }
  made.warnings = std::move(warnings);
  for (const auto& warning : check.warnings) made.warnings.push_back(warning.message);
  return made;
}

}  // namespace qel::tool
