// A plain reading of a version file, written apart from the component's
// parser: where the parse must end and what each published value must hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qel::fuzz {

struct PublishedValues {
  int32_t lMajor = 0;
  int32_t lMinor = 0;
  int32_t lBuild = 0;
  std::u16string strUpdateURL;
  std::u16string strVersionHistory;

  bool operator==(const PublishedValues&) const = default;
};

enum class ParseOutcome { kRefused, kAccepted, kOverflow };

struct ModelParse {
  ParseOutcome outcome;
  PublishedValues after;
};

// What ExtractData(strFilename, strFileData) must answer on a parser that
// holds `before`, and what it must hold afterwards.
ModelParse ModelExtractData(std::u16string_view strFilename, std::u16string_view strFileData,
                            PublishedValues before);

std::string Describe(const PublishedValues& values);
std::string Describe(ParseOutcome outcome);

}  // namespace qel::fuzz
