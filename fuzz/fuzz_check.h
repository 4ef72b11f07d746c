// What a fuzz target does when the code under test and its model disagree:
// says what differed and aborts, which libFuzzer records as a finding.
#pragma once

#include <string>
#include <string_view>

namespace qel::fuzz {

[[noreturn]] void Fail(std::string_view what, std::string_view detail = {});

inline void Check(bool ok, std::string_view what) {
  if (!ok) Fail(what);
}

// The detail is written only on failure: building it for every input would
// cost more than the code under test.
template <typename Detail>
void Check(bool ok, std::string_view what, Detail detail) {
  if (!ok) Fail(what, detail());
}

// The text with every unit outside printable ASCII written as \uXXXX, so that
// a finding's report shows exactly which units were involved.
std::string Shown(std::u16string_view text);

}  // namespace qel::fuzz
