// Text from the network as the tool prints it for a person.
#pragma once

#include <string>
#include <string_view>

namespace qel::tool {

// UTF-8 in which nothing can rewrite what a console shows: control
// characters, a CR that does not end a line (CR LF and LF are kept) and the
// bidirectional controls (U+202A-U+202E, U+2066-U+2069) are written as
// escapes (\x1b, \u202e), so that what is printed is what was sent.
std::string ConsoleText(std::u16string_view text);
// The same for text already in UTF-8.
std::string ConsoleText(std::string_view utf8);

}  // namespace qel::tool
