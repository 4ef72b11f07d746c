#include "fuzz/windows_1252.h"

#include <array>
#include <utility>

namespace qel::fuzz {
namespace {

// The bytes whose unit is not the byte's own value.
constexpr std::pair<uint8_t, char16_t> kNotLatin1[] = {
    {0x80, 0x20AC},  // euro sign
    {0x82, 0x201A},  // single low-9 quotation mark
    {0x83, 0x0192},  // f with hook
    {0x84, 0x201E},  // double low-9 quotation mark
    {0x85, 0x2026},  // horizontal ellipsis
    {0x86, 0x2020},  // dagger
    {0x87, 0x2021},  // double dagger
    {0x88, 0x02C6},  // modifier letter circumflex
    {0x89, 0x2030},  // per mille sign
    {0x8A, 0x0160},  // S with caron
    {0x8B, 0x2039},  // single left-pointing angle quotation mark
    {0x8C, 0x0152},  // ligature OE
    {0x8E, 0x017D},  // Z with caron
    {0x91, 0x2018},  // left single quotation mark
    {0x92, 0x2019},  // right single quotation mark
    {0x93, 0x201C},  // left double quotation mark
    {0x94, 0x201D},  // right double quotation mark
    {0x95, 0x2022},  // bullet
    {0x96, 0x2013},  // en dash
    {0x97, 0x2014},  // em dash
    {0x98, 0x02DC},  // small tilde
    {0x99, 0x2122},  // trade mark sign
    {0x9A, 0x0161},  // s with caron
    {0x9B, 0x203A},  // single right-pointing angle quotation mark
    {0x9C, 0x0153},  // ligature oe
    {0x9E, 0x017E},  // z with caron
    {0x9F, 0x0178},  // Y with diaeresis
};

std::array<char16_t, 256> UnitTable() {
  std::array<char16_t, 256> table{};
  for (int byte = 0; byte < 256; ++byte) table[byte] = static_cast<char16_t>(byte);
  for (const auto& [byte, unit] : kNotLatin1) table[byte] = unit;
  return table;
}

const std::array<char16_t, 256>& Units() {
  static const std::array<char16_t, 256> table = UnitTable();
  return table;
}

// Every unit's byte, or -1: the table turned round.
std::array<int16_t, 0x10000> ByteTable() {
  std::array<int16_t, 0x10000> bytes;
  bytes.fill(-1);
  for (int byte = 0; byte < 256; ++byte) bytes[Units()[byte]] = static_cast<int16_t>(byte);
  return bytes;
}

}  // namespace

char16_t Windows1252Unit(uint8_t byte) { return Units()[byte]; }

std::optional<uint8_t> Windows1252Byte(char16_t unit) {
  static const std::array<int16_t, 0x10000> bytes = ByteTable();
  if (bytes[unit] < 0) return std::nullopt;
  return static_cast<uint8_t>(bytes[unit]);
}

std::optional<uint8_t> Windows1252LookAlike(char16_t unit) {
  constexpr char16_t kFullwidthOffset = 0xFF01 - 0x21;
  if (unit >= 0xFF01 && unit <= 0xFF5E && unit != 0xFF1F) {
    return static_cast<uint8_t>(unit - kFullwidthOffset);
  }
  if (unit == 0x2215) return static_cast<uint8_t>('/');
  return std::nullopt;
}

}  // namespace qel::fuzz
