// The linter against the parser: on every input the linter's verdict is the
// component's answer (accepted, refused, or the overflow error), its own
// step-by-step reading reaches the same end, a refusal always has a rule that
// explains it (never "unexplained"), and an acceptance none; and the size cap
// (made small here) refuses a file before any parse.
//
// Input: the URL's bytes, a NUL, then the file's bytes. Without a NUL the
// whole input is the file and the URL is what its "file=" line says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"
#include "fuzz/fuzz_check.h"
#include "retrieval/received_bytes.h"
#include "service/clsVersionTest.h"
#include "service/numeric_value.h"
#include "tools/publish/version_lint.h"

namespace {

enum class Answer { kAccepted, kRefused, kOverflow };

std::u16string Decoded(std::string_view bytes) {
  qel::ReceivedBytes received;
  received.Append(bytes.data(), bytes.size());
  return received.ToText();
}

// The numeric conversion's answer: a number, or -1 - 2^32 for the overflow.
int64_t Converted(std::u16string_view value) {
  try {
    return qel::ValueToLong(value);
  } catch (const qel::Error&) {
    return -1 - (int64_t{1} << 32);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace qel;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view fileBytes = input;
  std::u16string url;
  if (const std::size_t nul = input.find('\0'); nul != std::string_view::npos) {
    url = Decoded(input.substr(0, nul));
    fileBytes = input.substr(nul + 1);
  } else {
    const std::u16string text = Decoded(input);
    if (text.starts_with(u"file=")) url = text.substr(5, text.find(u"\r\n") - 5);
  }
  const std::u16string text = Decoded(fileBytes);

  // The component's own answer, on a parser of its own.
  clsVersionTest parser;
  Answer component = Answer::kRefused;
  try {
    component = parser.ExtractData(url, text) ? Answer::kAccepted : Answer::kRefused;
  } catch (const Error& error) {
    fuzz::Check(error.Number() == kErrOverflow, "the parser raised an error other than overflow");
    component = Answer::kOverflow;
  }

  const tool::LintResult lint = tool::LintVersionFile(fileBytes, url);
  const Answer linted = lint.accepted   ? Answer::kAccepted
                        : lint.overflow ? Answer::kOverflow
                                        : Answer::kRefused;
  const auto shown = [&] { return "url " + fuzz::Shown(url) + "\ntext " + fuzz::Shown(text); };
  fuzz::Check(linted == component, "the lint's verdict differs from the parser's", shown);

  // The download's cap comes before any parse: a file one byte over it is
  // refused for its size alone, and a file at it gets the parser's verdict.
  const tool::LintResult atCap = tool::LintVersionFile(fileBytes, url, fileBytes.size());
  fuzz::Check(!atCap.tooLarge && atCap.accepted == lint.accepted && atCap.overflow == lint.overflow,
              "a file at the size cap gets another verdict", shown);
  if (!fileBytes.empty()) {
    const tool::LintResult over = tool::LintVersionFile(fileBytes, url, fileBytes.size() - 1);
    fuzz::Check(over.tooLarge && !over.accepted && !over.overflow && over.error &&
                    over.error->kind == tool::LintRule::kTooLarge,
                "a file over the size cap is not refused for its size", shown);
  }

  const tool::LintWalk walk = tool::WalkVersionFile(text, url);
  const Answer walked = walk.overflow           ? Answer::kOverflow
                        : walk.stepsPassed == 6 ? Answer::kAccepted
                                                : Answer::kRefused;
  fuzz::Check(walked == component, "the lint's reading ends elsewhere than the parser", shown);

  if (component == Answer::kAccepted) {
    fuzz::Check(!lint.error.has_value(), "an accepted file has a broken rule", shown);
    const tool::PublishedValues& v = lint.values;
    fuzz::Check(v.major == parser.Major() && v.minor == parser.Minor() &&
                    v.build == parser.Build() && v.updateURL == parser.UpdateURL() &&
                    v.versionHistory == parser.VersionHistory() && walk.values.major == v.major &&
                    walk.values.minor == v.minor && walk.values.build == v.build &&
                    walk.values.updateURL == v.updateURL &&
                    walk.values.versionHistory == v.versionHistory,
                "the lint shows other values than the parser publishes", shown);
  } else {
    fuzz::Check(lint.error.has_value(), "a refused file has no broken rule", shown);
    fuzz::Check(lint.error->kind != tool::LintRule::kUnexplained,
                "the lint cannot say why the file is refused",
                [&] { return shown() + "\n" + lint.error->message; });
    fuzz::Check((component == Answer::kOverflow) == (lint.error->kind == tool::LintRule::kOverflow),
                "the overflow and its rule do not go together", shown);
  }

  // The warnings' idea of where a number ends reads as the whole value does.
  const std::u16string_view value = std::u16string_view(text).substr(0, 64);
  fuzz::Check(Converted(tool::NumberPart(value)) == Converted(value),
              "the number part reads differently from the value",
              [&] { return "value " + fuzz::Shown(value); });
  return 0;
}
