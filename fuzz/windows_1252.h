// Windows-1252 as published, written out for the fuzz targets apart from the
// Linux stand-in's own table.
#pragma once

#include <cstdint>
#include <optional>

namespace qel::fuzz {

// The unit Windows gives the byte. The five bytes the code page leaves
// undefined come out as the C1 control of the same value.
char16_t Windows1252Unit(uint8_t byte);

// The byte whose unit this is, if any.
std::optional<uint8_t> Windows1252Byte(char16_t unit);

// The ASCII byte Windows sends for a unit without a byte when it best-fits
// (no WC_NO_BEST_FIT_CHARS), if any; of its table, the fullwidth forms of
// ASCII but U+FF1F, and U+2215 DIVISION SLASH.
std::optional<uint8_t> Windows1252LookAlike(char16_t unit);

}  // namespace qel::fuzz
