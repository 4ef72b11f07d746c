// Portable text is UTF-16, as Windows and COM hold it.
#pragma once

#include <string>
#include <string_view>

namespace qel {

// UTF-8 <-> UTF-16 for tools, tests and messages. Ill-formed input becomes U+FFFD.
std::u16string Utf8ToText(std::string_view utf8);
std::string TextToUtf8(std::u16string_view text);

}  // namespace qel
