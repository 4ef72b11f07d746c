// Text in the system ANSI code page, exactly or not at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qel {

// Nothing when a character has no byte of its own there: Windows would send
// it as the default character or as a look-alike (U+FF0F as '/', U+FF20 as
// '@'). A NUL converts like any other character.
std::optional<std::string> ExactAnsi(std::u16string_view text);

// The same in `codePage`: CP_ACP, or CP_UTF8, where every character has
// bytes of its own and only a lone surrogate has none.
std::optional<std::string> ExactInCodePage(unsigned codePage, std::u16string_view text);

}  // namespace qel
