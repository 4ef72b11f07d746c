// Fuzzer bytes as UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qel::fuzz {

// A byte stands for the unit of the same value; 0xFF followed by two bytes
// stands for the unit they spell, low byte first. ASCII structure stays cheap
// for the fuzzer to build, and every unit (surrogates and U+FFFF included)
// can still be reached.
std::u16string UnitsFromBytes(const uint8_t* data, std::size_t size);

}  // namespace qel::fuzz
