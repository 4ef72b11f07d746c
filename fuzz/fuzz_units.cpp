#include "fuzz/fuzz_units.h"

namespace qel::fuzz {

std::u16string UnitsFromBytes(const uint8_t* data, std::size_t size) {
  constexpr uint8_t kEscape = 0xFF;
  std::u16string units;
  units.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    if (data[i] == kEscape && i + 2 < size) {
      units.push_back(static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8)));
      i += 3;
    } else {
      units.push_back(data[i]);
      ++i;
    }
  }
  return units;
}

}  // namespace qel::fuzz
