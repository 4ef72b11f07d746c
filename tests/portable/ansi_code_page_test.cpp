// The ANSI code page conversions the download relies on. Built in both builds:
// under Wine this checks Windows' own mapping, natively the stand-in's, so
// the two are held to the same table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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

TEST_F(AnsiCodePageTest, UnitsOutsideTheTableBecomeTheDefaultCharacter) {
  // U+0080 is not in Windows-1252 (0x80 is the euro sign); a surrogate pair
  // is two units, each without a byte. None of them has a look-alike that
  // Windows would send instead, as it sends U+0100 as 'A'.
  const WCHAR wide[] = {static_cast<WCHAR>(0x3042), static_cast<WCHAR>(0x0080),
                        static_cast<WCHAR>(0x4E2D), static_cast<WCHAR>(0x20AC),
                        static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00)};
  struct Case {
    const char* defaultChar;
    std::string expected;
  };
  for (const Case& c : {Case{nullptr, "???\x80??"}, Case{"*", "***\x80**"}}) {
    SCOPED_TRACE(c.defaultChar == nullptr ? "no default given" : c.defaultChar);
    std::string bytes(6, '\0');
    BOOL usedDefault = FALSE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 6, bytes.data(), 6, c.defaultChar, &usedDefault),
              6);
    EXPECT_EQ(bytes, c.expected);
    EXPECT_TRUE(usedDefault);
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
