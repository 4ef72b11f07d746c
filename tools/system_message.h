// The operating system's message for an error number (WinINet's own range
// included), for the readable output of the host tool.
#pragma once

#include <cstdint>
#include <string>

namespace qel::tool {

// Empty when the number is not a known system or WinINet error.
std::string SystemMessage(int32_t number);

// What the update checker itself means by a number it reports (the overflow,
// the 16 MiB cap, its own error numbers...); empty for any other number.
std::string ComponentMessage(int32_t number);

// The meaning of a check's outcome number: the component's own first, then
// the system's. Empty when neither knows the number.
std::string CheckErrorMessage(int32_t number);

}  // namespace qel::tool
