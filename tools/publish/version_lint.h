// The version file linter: whether the update checker accepts a file for a
// URL (asked of the parser itself), and if not, the first rule the file
// breaks, with its line and a hint; plus warnings about values that are
// accepted but probably not meant.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/modInternetFunctions.h"
#include "tools/published_values.h"

namespace qel::tool {

enum class LintRule {
  kEmptyFile,
  kByteOrderMark,
  kCompressed,  // gzip bytes: served with Content-Encoding, or compressed by a CDN
  kLineFeedOnly,
  kCarriageReturnOnly,
  kHtmlPage,
  kBlankLine,
  kKeyCase,
  kSpaceBeforeKey,
  kSpaceBeforeEquals,
  kKeyOutOfOrder,
  kKeyMissing,
  kFileNameDiffers,
  kEmptyValue,
  kMajorZero,
  kOverflow,
  kNoHistory,
  kTooLarge,     // over the download's cap: the check ends with error 223
  kUnexplained,  // the parser refused and no rule says why: a fault of the linter
};

enum class LintWarning {
  kRoundedFraction,
  kTrailingText,
  kNotANumber,
  kRadixNumber,
  kNegativeNumber,
  kZeroPadded,
  kUpdateSpaces,
  kUtf8InHistory,
  kBeyondAscii,  // read otherwise by hosts with another ANSI code page
  kHistoryWithoutCrLf,
};

template <typename Kind>
struct LintFinding {
  Kind kind;
  size_t line = 0;      // 1-based; 0 when the finding names a byte
  std::string message;  // one line, beginning with "line N: " or "byte N: "
  std::string hint;     // one line, may be empty
};

struct LintResult {
  // The check's own answer: accepted, refused, the overflow error (6), or
  // the download's size error (223), which comes before any parse.
  bool accepted = false;
  bool overflow = false;
  bool tooLarge = false;
  PublishedValues values;  // what the component publishes, when accepted
  std::optional<LintFinding<LintRule>> error;
  std::vector<LintFinding<LintWarning>> warnings;
};

// The largest version file a check downloads; past it the check ends with
// error 223.
inline constexpr size_t kMaxVersionFileBytes = modInternetFunctions::kMaxResourceBytes;

// The file's bytes are read as the component reads a download: in the
// system ANSI code page. `maxBytes` is the download's cap (smaller only for
// the fuzz target).
LintResult LintVersionFile(std::string_view bytes, std::u16string_view url,
                           size_t maxBytes = kMaxVersionFileBytes);

// "16 MiB (16777216 bytes)"-style wording of a byte count, for messages.
std::string ByteCount(size_t bytes);

// How the linter itself reads the file, step by step as the parser does:
// how far it gets and why it stops there. Exposed for the fuzz target, which
// holds it to the parser's answers.
struct LintWalk {
  int stepsPassed = 0;  // 0 file=, 1 major=, 2 minor=, 3 build=, 4 update=, 5 history; 6 all
  bool overflow = false;
  size_t lineStart = 0;  // the line the walk stopped on, as positions in the text
  size_t lineEnd = 0;
  PublishedValues values;  // as far as the walk got
};
LintWalk WalkVersionFile(std::u16string_view text, std::u16string_view url);

// The part of a number value that the conversion reads (after dropping
// blanks), for the warnings; the fuzz target checks that it reads the same
// as the whole value.
std::u16string NumberPart(std::u16string_view value);

}  // namespace qel::tool
