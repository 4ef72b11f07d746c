// The numeric conversion of the version file's numbers, as the Basic runtime
// reads a string into a 32-bit integer.
#pragma once

#include <cstdint>
#include <string_view>

namespace qel {

// Drops spaces, tabs and line feeds, reads the longest leading number (decimal
// with optional fraction and exponent, or &H / &O), rounds half to even.
// A value that does not begin with a number reads as 0. Raises error 6
// ("Overflow") when the rounded value is outside the signed 32-bit range.
int32_t ValueToLong(std::u16string_view value);

}  // namespace qel
