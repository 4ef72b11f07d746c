#include "service/numeric_value.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "common/error.h"

namespace qel {
namespace {

// Walks the value as if its spaces, tabs and line feeds had been removed
// first, without building the shortened copy.
class ValueCursor {
 public:
  explicit ValueCursor(std::u16string_view value) : m_strValue(value) { SkipBlanks(); }

  // The current character, or 0 at the end (0 never continues a number).
  char16_t Peek() const { return m_lPos < m_strValue.size() ? m_strValue[m_lPos] : u'\0'; }

  void Next() {
    ++m_lPos;
    SkipBlanks();
  }

 private:
  void SkipBlanks() {
    while (m_lPos < m_strValue.size()) {
      const char16_t ch = m_strValue[m_lPos];
      if (ch != u' ' && ch != u'\t' && ch != u'\n') break;
      ++m_lPos;
    }
  }

  std::u16string_view m_strValue;
  std::size_t m_lPos = 0;
};

bool IsDecimalDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// The value of a hexadecimal or octal digit, or -1 for anything else.
int RadixDigit(char16_t ch, int lRadix) {
  int lDigit = -1;
  if (ch >= u'0' && ch <= u'9') {
    lDigit = ch - u'0';
  } else if (ch >= u'A' && ch <= u'F') {
    lDigit = ch - u'A' + 10;
  } else if (ch >= u'a' && ch <= u'f') {
    lDigit = ch - u'a' + 10;
  }
  return lDigit < lRadix ? lDigit : -1;
}

[[noreturn]] void RaiseOverflow() { Raise(kErrOverflow, kRuntimeSource, u"Overflow"); }

// &H / &O digits: up to FFFF they are a signed 16-bit number, up to FFFFFFFF a
// signed 32-bit one. More than 32 bits cannot be represented either way and
// raise the overflow error, as a decimal number beyond the range does.
int32_t ReadRadix(ValueCursor& cursor, int lRadix) {
  uint64_t lValue = 0;
  for (int lDigit = RadixDigit(cursor.Peek(), lRadix); lDigit >= 0;
       lDigit = RadixDigit(cursor.Peek(), lRadix)) {
    lValue = lValue * static_cast<uint64_t>(lRadix) + static_cast<uint64_t>(lDigit);
    if (lValue > 0xFFFFFFFFu) RaiseOverflow();
    cursor.Next();
  }
  if (lValue <= 0xFFFFu) return static_cast<int16_t>(static_cast<uint16_t>(lValue));
  return static_cast<int32_t>(static_cast<uint32_t>(lValue));
}

// Digits kept for the double conversion. A double below 1e11 and the
// midpoints between its neighbours need fewer than 80 significant digits, so
// past this count only "something non-zero follows" can change the result.
constexpr std::size_t kKeptDigits = 128;

// Exponents are clamped well beyond anything that still reads as a number in
// range, so that neither the explicit exponent nor the digit count can wrap.
constexpr int64_t kExponentLimit = 1'000'000'000'000'000;

int64_t ClampExponent(int64_t lExponent) {
  if (lExponent > kExponentLimit) return kExponentLimit;
  if (lExponent < -kExponentLimit) return -kExponentLimit;
  return lExponent;
}

// Rounds a non-negative double below 2^52 to the nearest integer, an exact
// half to the even neighbour, whatever rounding mode the thread is in.
double RoundHalfEven(double dValue) {
  const double dFloor = std::floor(dValue);
  const double dFraction = dValue - dFloor;
  if (dFraction > 0.5) return dFloor + 1.0;
  if (dFraction < 0.5) return dFloor;
  return std::fmod(dFloor, 2.0) == 0.0 ? dFloor : dFloor + 1.0;
}

int32_t ReadDecimal(ValueCursor& cursor) {
  bool bNegative = false;
  if (cursor.Peek() == u'+' || cursor.Peek() == u'-') {
    bNegative = cursor.Peek() == u'-';
    cursor.Next();
  }

  // The significant digits D and exponent E with |value| = 0.D * 10^E.
  std::array<char, kKeptDigits + 1 + 1 + 24> digits{};
  std::size_t lDigits = 0;
  bool bMoreNonZero = false;
  bool bAnyDigit = false;
  int64_t lExponent = 0;
  bool bFraction = false;
  for (;;) {
    const char16_t ch = cursor.Peek();
    if (ch == u'.' && !bFraction) {
      bFraction = true;
    } else if (IsDecimalDigit(ch)) {
      bAnyDigit = true;
      if (lDigits == 0 && ch == u'0') {
        // Leading zeros carry no digit, only shift a fraction.
        if (bFraction) lExponent = ClampExponent(lExponent - 1);
      } else {
        if (lDigits < kKeptDigits) {
          digits[lDigits++] = static_cast<char>(ch);
        } else if (ch != u'0') {
          bMoreNonZero = true;
        }
        if (!bFraction) lExponent = ClampExponent(lExponent + 1);
      }
    } else {
      break;
    }
    cursor.Next();
  }
  if (!bAnyDigit) return 0;

  // An exponent letter without digits ends the number before the letter;
  // since the rest is ignored, there is nothing to step back over.
  if (cursor.Peek() == u'E' || cursor.Peek() == u'e') {
    cursor.Next();
    bool bExponentNegative = false;
    if (cursor.Peek() == u'+' || cursor.Peek() == u'-') {
      bExponentNegative = cursor.Peek() == u'-';
      cursor.Next();
    }
    if (IsDecimalDigit(cursor.Peek())) {
      int64_t lExplicit = 0;
      while (IsDecimalDigit(cursor.Peek())) {
        lExplicit = ClampExponent(lExplicit * 10 + (cursor.Peek() - u'0'));
        cursor.Next();
      }
      lExponent = ClampExponent(lExponent + (bExponentNegative ? -lExplicit : lExplicit));
    }
  }

  if (lDigits == 0 || lExponent < 0) return 0;  // below 0.1: rounds to 0
  if (lExponent > 10) RaiseOverflow();          // at least 1e10

  // Digits dropped past the kept ones stand in as one trailing non-zero digit.
  if (bMoreNonZero) digits[lDigits++] = '1';
  std::size_t lLength = lDigits;
  digits[lLength++] = 'e';
  const int64_t lScale = lExponent - static_cast<int64_t>(lDigits);
  const auto written =
      std::to_chars(digits.data() + lLength, digits.data() + digits.size(), lScale);
  lLength = static_cast<std::size_t>(written.ptr - digits.data());

  double dValue = 0.0;
  std::from_chars(digits.data(), digits.data() + lLength, dValue);
  dValue = RoundHalfEven(dValue);
  if (bNegative) dValue = -dValue;
  if (dValue < -2147483648.0 || dValue > 2147483647.0) RaiseOverflow();
  return static_cast<int32_t>(dValue);
}

}  // namespace

int32_t ValueToLong(std::u16string_view value) {
  ValueCursor cursor(value);
  if (cursor.Peek() != u'&') return ReadDecimal(cursor);
  cursor.Next();
  const char16_t chRadix = cursor.Peek();
  if (chRadix == u'H' || chRadix == u'h') {
    cursor.Next();
    return ReadRadix(cursor, 16);
  }
  if (chRadix == u'O' || chRadix == u'o') {
    cursor.Next();
    return ReadRadix(cursor, 8);
  }
  return 0;
}

}  // namespace qel
