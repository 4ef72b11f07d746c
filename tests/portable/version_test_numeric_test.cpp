#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "service/numeric_value.h"

namespace qel {
namespace {

struct NumericCase {
  std::u16string strValue;
  std::optional<int32_t> lExpected;  // nullopt: the overflow error
};

void PrintTo(const NumericCase& row, std::ostream* os) {
  std::string strShown = TextToUtf8(row.strValue);
  if (strShown.size() > 60)
    strShown = strShown.substr(0, 60) + "...(" + std::to_string(strShown.size()) + " chars)";
  *os << '"' << strShown << "\" -> ";
  if (row.lExpected) {
    *os << *row.lExpected;
  } else {
    *os << "overflow";
  }
}

constexpr std::optional<int32_t> kOverflow = std::nullopt;

std::u16string Repeat(char16_t ch, std::size_t lCount) { return std::u16string(lCount, ch); }

std::vector<NumericCase> NumericCases() {
  return {
      // The values after "major=" that the file format lists.
      {u"0", 0},
      {u"abc", 0},
      {u"0.5", 0},
      {u" ", 0},
      {u"0.6", 1},
      {u"-3", -3},
      {u"2.5", 2},
      {u"3.5", 4},
      {u"1,000", 1},
      {u"12abc", 12},
      {u"1 2", 12},
      {u"&H10", 16},
      {u"&HFFFF", -1},

      // Hexadecimal and octal: 16 bits up to FFFF, 32 bits above, error past 32.
      {u"&H7FFF", 32767},
      {u"&H8000", -32768},
      {u"&hffff", -1},
      {u"&H10000", 65536},
      {u"&H7FFFFFFF", 2147483647},
      {u"&H80000000", -2147483647 - 1},
      {u"&HFFFFFFFF", -1},
      {u"&H100000000", kOverflow},
      {u"&HFFFFFFFFFFFFFFFFFFFF", kOverflow},
      {u"&H" + Repeat(u'0', 5000) + u"1F", 31},
      {u"&O177777", -1},
      {u"&o100000", -32768},
      {u"&O200000", 65536},
      {u"&O37777777777", -1},
      {u"&O40000000000", kOverflow},
      {u"&O178", 15},
      {u"&O8", 0},
      {u"&H1G", 1},
      {u"&HG", 0},
      {u"&H", 0},
      {u"&O", 0},
      {u"&", 0},
      {u"&X1", 0},
      {u"& h 1 0", 16},
      {u"-&H10", 0},
      {u"+&H10", 0},

      // Exponents; a letter without digits is not part of the number.
      {u"1e5", 100000},
      {u"1E+2", 100},
      {u"15e-1", 2},
      {u"25E-1", 2},
      {u".5e1", 5},
      {u"1.e1", 10},
      {u"1 e - 1", 0},
      {u"1e", 1},
      {u"1e+", 1},
      {u"1E-x5", 1},
      {u"1e2.5", 100},
      {u"1e9", 1000000000},
      {u"1e10", kOverflow},
      {u"-1e10", kOverflow},
      {u"1e999999", kOverflow},
      {u"1e-999999", 0},
      {u"0e999999", 0},
      {u"1e99999999999999999999999999999", kOverflow},
      {u"1e-99999999999999999999999999999", 0},
      {u"1e" + Repeat(u'0', 5000) + u"3", 1000},

      // Rounding of the double: halves go to the even neighbour (0.5 and 2.5
      // above).
      {u"1.5", 2},
      {u"-2.5", -2},
      {u"-0.5", 0},
      {u"-1.5", -2},
      {u"0.50001", 1},
      {u"-0.4", 0},
      // Held as a double first: the nearest double of this is 2.5 itself.
      {u"2.5000000000000001", 2},
      // 2.5 + 2^-52 lies exactly between two doubles and goes to 2.5; a digit
      // further out, even past a long run of zeros, tips it to the next one.
      {u"2.5000000000000002220446049250313080847263336181640625", 2},
      {u"2.5000000000000002220446049250313080847263336181640626", 3},
      {u"2.5000000000000002220446049250313080847263336181640625" + Repeat(u'0', 300) + u"1", 3},

      // The signed 32-bit range.
      {u"2147483647", 2147483647},
      {u"2147483647.4", 2147483647},
      {u"2147483647.5", kOverflow},
      {u"2147483648", kOverflow},
      {u"2147483646.5", 2147483646},
      {u"-2147483648", -2147483647 - 1},
      {u"-2147483648.5", -2147483647 - 1},
      {u"-2147483648.6", kOverflow},
      {u"-2147483649", kOverflow},
      {u"9999999999", kOverflow},

      // Spaces, tabs and line feeds vanish wherever they stand; other
      // characters, CR among them, end the number.
      {u" 1 2 ", 12},
      {u"\t-\t7", -7},
      {u"1\n2", 12},
      {u"- 2 . 5 e 1", -25},
      {u"1\r2", 1},
      {u"\r5", 0},
      {u"1\u00A02", 1},
      {u"\uFF15", 0},
      {u"1,5", 1},

      // Signs and points without digits.
      {u"+5", 5},
      {u"-", 0},
      {u"+", 0},
      {u".", 0},
      {u"-.", 0},
      {u"--5", 0},
      {u"+-5", 0},
      {u"..5", 0},
      {u"1.2.3", 1},
      {u"", 0},

      // Long runs of digits.
      {u"1" + Repeat(u'0', 5000), kOverflow},
      {Repeat(u'0', 5000) + u"7", 7},
      {u"0." + Repeat(u'0', 5000) + u"1", 0},
      {u"0." + Repeat(u'0', 5000) + u"1e5001", 1},
      {u"1" + Repeat(u'0', 5000) + u"e-5000", 1},
      {u"3." + Repeat(u'9', 5000), 4},
      {Repeat(u' ', 5000) + u"42", 42},
  };
}

class NumericValueTest : public testing::TestWithParam<NumericCase> {};

TEST_P(NumericValueTest, ReadsTheLeadingNumber) {
  const NumericCase& row = GetParam();
  if (row.lExpected) {
    EXPECT_EQ(ValueToLong(row.strValue), *row.lExpected);
    return;
  }
  try {
    const int32_t lRead = ValueToLong(row.strValue);
    ADD_FAILURE() << "read as " << lRead << " instead of raising the overflow error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kErrOverflow);
    EXPECT_EQ(error.Description(), u"Overflow");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, NumericValueTest, testing::ValuesIn(NumericCases()));

}  // namespace
}  // namespace qel
