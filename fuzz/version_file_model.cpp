#include "fuzz/version_file_model.h"

#include <array>
#include <optional>

#include "fuzz/fuzz_check.h"
#include "fuzz/numeric_model.h"

namespace qel::fuzz {
namespace {

// The five keyed lines and what follows them. Only the pair CR LF separates
// lines; missing lines are empty.
struct SplitFile {
  std::array<std::u16string_view, 5> lines;
  std::u16string_view rest;
};

SplitFile Split(std::u16string_view text) {
  SplitFile split;
  std::size_t start = 0;
  for (std::u16string_view& line : split.lines) {
    std::size_t end = start;
    while (end + 1 < text.size() && !(text[end] == u'\r' && text[end + 1] == u'\n')) ++end;
    if (end + 1 < text.size()) {
      line = text.substr(start, end - start);
      start = end + 2;
    } else {
      line = text.substr(start);
      start = text.size();
    }
  }
  split.rest = text.substr(start);
  return split;
}

// What follows the key, or nothing when the line does not begin with it.
std::u16string_view ValueAfter(std::u16string_view key, std::u16string_view line) {
  if (line.size() < key.size() || line.substr(0, key.size()) != key) return {};
  return line.substr(key.size());
}

}  // namespace

ModelParse ModelExtractData(std::u16string_view strFilename, std::u16string_view strFileData,
                            PublishedValues before) {
  const SplitFile file = Split(strFileData);
  ModelParse parse{ParseOutcome::kRefused, std::move(before)};

  if (ValueAfter(u"file=", file.lines[0]) != strFilename) return parse;

  // Nothing is published unless the whole file is accepted.
  const std::array<std::u16string_view, 3> keys = {u"major=", u"minor=", u"build="};
  std::array<int32_t, 3> numbers{};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::u16string_view value = ValueAfter(keys[i], file.lines[i + 1]);
    if (value.empty()) return parse;
    const std::optional<int32_t> number = ModelValueToLong(value);
    if (!number) {
      parse.outcome = ParseOutcome::kOverflow;
      return parse;
    }
    if (i == 0 && *number == 0) return parse;
    numbers[i] = *number;
  }

  const std::u16string_view update = ValueAfter(u"update=", file.lines[4]);
  if (update.empty() || file.rest.empty()) return parse;
  parse.outcome = ParseOutcome::kAccepted;
  parse.after = {numbers[0], numbers[1], numbers[2], std::u16string(update),
                 std::u16string(file.rest)};
  return parse;
}

std::string Describe(const PublishedValues& values) {
  return "major " + std::to_string(values.lMajor) + ", minor " + std::to_string(values.lMinor) +
         ", build " + std::to_string(values.lBuild) + ", update " + Shown(values.strUpdateURL) +
         ", history " + Shown(values.strVersionHistory);
}

std::string Describe(ParseOutcome outcome) {
  switch (outcome) {
    case ParseOutcome::kRefused:
      return "false";
    case ParseOutcome::kAccepted:
      return "true";
    case ParseOutcome::kOverflow:
      return "the overflow error";
  }
  return "?";
}

}  // namespace qel::fuzz
