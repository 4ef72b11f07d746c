// The ANSI code page conversions the download relies on. Built in both builds:
// under Wine this checks Windows' own mapping, natively the stand-in's, so
// the two are held to the same table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "retrieval/exact_ansi.h"

namespace {

// Windows-1252 by byte value 0x80..0x9F, as Windows maps it; every other byte
// maps to the code point of the same value.
constexpr uint16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint16_t Expected1252(int byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh1252[byte - 0x80] : static_cast<uint16_t>(byte);
}

class AnsiCodePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page here is " << GetACP();
  }
};

TEST_F(AnsiCodePageTest, EveryByteMapsToItsWindows1252Unit) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  std::vector<WCHAR> wide(256, static_cast<WCHAR>(0xDEAD));

  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, all.data(), 256, wide.data(), 256), 256);
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(static_cast<uint16_t>(wide[byte]), Expected1252(byte)) << "byte " << byte;
  }
}

TEST_F(AnsiCodePageTest, MixedTextConvertsWhereverItsHighBytesFall) {
  // Mostly ASCII, as version files are, with one or two high bytes at every
  // position of texts of every length up to a few words; into a buffer of
  // exactly the size and into a larger one, whose tail must stay untouched.
  constexpr WCHAR kUntouched = static_cast<WCHAR>(0xDEAD);
  for (size_t length = 1; length <= 40; ++length) {
    for (size_t high = 0; high < length; ++high) {
      std::string text(length, 'a');
      for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
      text[high] = '\x80';
      text[length - 1 - high] = '\xE9';
      for (size_t room : {length, length + 9}) {
        SCOPED_TRACE("length " + std::to_string(length) + ", high byte at " + std::to_string(high) +
                     ", room " + std::to_string(room));
        std::vector<WCHAR> wide(room, kUntouched);
        ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(length), wide.data(),
                                      static_cast<int>(room)),
                  static_cast<int>(length));
        for (size_t i = 0; i < length; ++i) {
          ASSERT_EQ(static_cast<uint16_t>(wide[i]),
                    Expected1252(static_cast<unsigned char>(text[i])))
              << "unit " << i;
        }
        for (size_t i = length; i < room; ++i) ASSERT_EQ(wide[i], kUntouched) << "unit " << i;
      }
    }
  }
}

TEST_F(AnsiCodePageTest, EveryUnitOfTheTableMapsBackToItsByte) {
  std::vector<WCHAR> wide;
  for (int byte = 0; byte < 256; ++byte) wide.push_back(static_cast<WCHAR>(Expected1252(byte)));
  std::string bytes(256, '\x01');
  BOOL usedDefault = TRUE;

  ASSERT_EQ(
      WideCharToMultiByte(CP_ACP, 0, wide.data(), 256, bytes.data(), 256, nullptr, &usedDefault),
      256);
  EXPECT_FALSE(usedDefault);
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(static_cast<unsigned char>(bytes[byte]), byte) << "unit " << Expected1252(byte);
  }
}

TEST_F(AnsiCodePageTest, UnitsOutsideTheTableBecomeALookAlikeOrTheDefaultCharacter) {
  // Without WC_NO_BEST_FIT_CHARS a look-alike goes as the ASCII byte it
  // resembles, not counted as lost; with it, as the default character, and
  // counted. U+FF1F has no look-alike (it is '?' only as the default
  // character); U+0080 is not in Windows-1252 (0x80 is the euro sign); each
  // half of a surrogate pair is a unit without a byte.
  struct Unit {
    uint16_t unit;
    char lookAlike;  // 0: none
  };
  const Unit units[] = {{0xFF0F, '/'}, {0x2215, '/'}, {0xFF20, '@'},  {0xFF1A, ':'},
                        {0xFF1F, 0},   {0xFF03, '#'}, {0xFF3C, '\\'}, {0x3042, 0},
                        {0x0080, 0},   {0x4E2D, 0},   {0xD83D, 0},    {0xDE00, 0}};
  for (const Unit& u : units) {
    for (const DWORD flags : {DWORD{0}, DWORD{WC_NO_BEST_FIT_CHARS}}) {
      SCOPED_TRACE("unit " + std::to_string(u.unit) + ", flags " + std::to_string(flags));
      const WCHAR wide = static_cast<WCHAR>(u.unit);
      char byte = 'x';
      BOOL usedDefault = -1;
      // The code page's own default, '?', when none is given.
      const char* defaultChar = flags == 0 ? "*" : nullptr;
      ASSERT_EQ(WideCharToMultiByte(CP_ACP, flags, &wide, 1, &byte, 1, defaultChar, &usedDefault),
                1);
      const bool fits = flags == 0 && u.lookAlike != 0;
      EXPECT_EQ(byte, fits ? u.lookAlike : flags == 0 ? '*' : '?');
      EXPECT_EQ(usedDefault, fits ? FALSE : TRUE);
    }
  }
}

// A URL goes out exactly as written or not at all, in the ANSI code page and
// where Windows makes that UTF-8 (whose conversion refuses the best-fit flag
// and the default-character question).
TEST_F(AnsiCodePageTest, TextConvertsExactlyOrNotAtAll) {
  const struct {
    UINT codePage;
    std::u16string text;
    std::optional<std::string> bytes;
  } cases[] = {
      {CP_ACP, u"http://h/caf\u00e9", "http://h/caf\xe9"},
      {CP_ACP, u"http://h/a\uff0fb", std::nullopt},
      {CP_ACP, std::u16string(u"http://h/a\0b", 12), std::string("http://h/a\0b", 12)},
      {CP_UTF8, u"http://h/caf\u00e9", "http://h/caf\xc3\xa9"},
      {CP_UTF8, u"http://h/a\uff0fb",
       "http://h/a\xef\xbc\x8f"
       "b"},
      {CP_UTF8, u"http://h/\U0001F600", "http://h/\xf0\x9f\x98\x80"},
      {CP_UTF8, u"http://h/" + std::u16string(1, char16_t{0xD83D}), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(qel::ExactInCodePage(c.codePage, c.text), c.bytes)
        << "code page " << c.codePage << ", " << c.text.size() << " units";
  }
}

TEST_F(AnsiCodePageTest, SizesAndFailuresFollowWin32) {
  // -1: up to and including the terminating NUL; an output size of 0 asks
  // for the size needed and writes nothing.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x80z", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x80z", 3, nullptr, 0), 3);
  WCHAR wide[4] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x80z", -1, wide, 4), 4);
  EXPECT_EQ(static_cast<uint16_t>(wide[1]), 0x20AC);
  EXPECT_EQ(static_cast<uint16_t>(wide[3]), 0);

  const WCHAR text[] = {static_cast<WCHAR>('a'), static_cast<WCHAR>(0x20AC), 0};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 3);
  char bytes[3] = {'x', 'x', 'x'};
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, 3, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(bytes, 3), std::string("a\x80\0", 3));

  // Too small a buffer, or none with a size, or no input, fails.
  const auto failsWith = [](int result, DWORD error) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), error);
  };
  failsWith(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), ERROR_INSUFFICIENT_BUFFER);
  failsWith(WideCharToMultiByte(CP_ACP, 0, text, 3, bytes, 2, nullptr, nullptr),
            ERROR_INSUFFICIENT_BUFFER);
  failsWith(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 2), ERROR_INVALID_PARAMETER);
  failsWith(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 4), ERROR_INVALID_PARAMETER);
  failsWith(WideCharToMultiByte(CP_ACP, 0, text, 0, bytes, 3, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

}  // namespace
