#include "fuzz/numeric_model.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"

namespace qel::fuzz {
namespace {

std::u16string WithoutBlanks(std::u16string_view value) {
  std::u16string kept;
  for (const char16_t ch : value) {
    if (ch != u' ' && ch != u'\t' && ch != u'\n') kept.push_back(ch);
  }
  return kept;
}

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

int DigitValue(char16_t ch, int radix) {
  int digit = 99;
  if (ch >= u'0' && ch <= u'9') digit = ch - u'0';
  if (ch >= u'a' && ch <= u'f') digit = ch - u'a' + 10;
  if (ch >= u'A' && ch <= u'F') digit = ch - u'A' + 10;
  return digit < radix ? digit : -1;
}

// &H / &O: the exact value, then the 16-bit or 32-bit two's complement
// reading by arithmetic rather than by casts.
std::optional<int32_t> RadixNumber(std::u16string_view digits, int radix) {
  int64_t value = 0;
  for (const char16_t ch : digits) {
    const int digit = DigitValue(ch, radix);
    if (digit < 0) break;
    value = value * radix + digit;
    // Past 32 bits nothing can bring it back: digits only ever add.
    if (value > 0xFFFFFFFFLL) return std::nullopt;
  }
  int64_t reading = value;
  if (value <= 0xFFFF) {
    if (value >= 0x8000) reading = value - 0x10000;
  } else if (value >= 0x80000000LL) {
    reading = value - 0x100000000LL;
  }
  return static_cast<int32_t>(reading);
}

// The longest leading decimal number, as plain ASCII; empty when the value
// does not begin with one.
std::string DecimalPrefix(std::u16string_view text) {
  std::string number;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    number += static_cast<char>(text[i]);
    ++i;
  }
  bool point = false;
  std::size_t digits = 0;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      ++digits;
    } else if (text[i] == u'.' && !point) {
      point = true;
    } else {
      break;
    }
    number += static_cast<char>(text[i]);
  }
  if (digits == 0) return {};
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    std::string exponent = "e";
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) {
      exponent += static_cast<char>(text[j]);
      ++j;
    }
    const std::size_t firstDigit = j;
    while (j < text.size() && IsDigit(text[j])) {
      exponent += static_cast<char>(text[j]);
      ++j;
    }
    if (j > firstDigit) number += exponent;
  }
  return number;
}

}  // namespace

std::optional<int32_t> ModelValueToLong(std::u16string_view value) {
  const std::u16string text = WithoutBlanks(value);
  if (!text.empty() && text[0] == u'&') {
    if (text.size() >= 2 && (text[1] == u'H' || text[1] == u'h')) {
      return RadixNumber(std::u16string_view(text).substr(2), 16);
    }
    if (text.size() >= 2 && (text[1] == u'O' || text[1] == u'o')) {
      return RadixNumber(std::u16string_view(text).substr(2), 8);
    }
    return 0;
  }

  const std::string number = DecimalPrefix(text);
  if (number.empty()) return 0;
  // glibc's strtod rounds any decimal string, however long, to the nearest
  // double: exactly the one step where the value is held as a double.
  char* end = nullptr;
  errno = 0;
  const double held = std::strtod(number.c_str(), &end);
  Check(end == number.c_str() + number.size(), "model: strtod stopped early",
        [&] { return number; });
  // In the default rounding mode nearbyint sends an exact half to the even
  // neighbour.
  const double rounded = std::nearbyint(held);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return std::nullopt;
  return static_cast<int32_t>(rounded);
}

}  // namespace qel::fuzz
