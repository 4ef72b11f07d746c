// The stand-in's ANSI code page: Windows-1252, mapped byte for byte as
// Windows maps it, best-fit look-alikes included. Only what the component
// asks of it: CP_ACP, with no flags but WC_NO_BEST_FIT_CHARS, and text to
// CP_UTF8, with Win32's sizes and failures, so that code that runs here
// behaves as it will on Windows.
#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// 0x80..0x9F as Windows maps them. The five bytes Windows-1252 leaves undefined
// become the C1 controls of the same value, as on Windows, so every byte
// survives a round trip.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t DecodeAnsi(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh1252[byte - 0x80] : char16_t{byte};
}

// Decodes all `length` bytes into `out`, which has room for them. Downloads
// are mostly ASCII, so runs of eight ASCII bytes are widened without the
// table; the compiler turns that into vector code.
void DecodeAnsiInto(const unsigned char* in, size_t length, char16_t* out) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, in + i, sizeof(word));
    if ((word & kHighBits) == 0) {
      for (size_t k = 0; k < 8; ++k) out[i + k] = in[i + k];
    } else {
      for (size_t k = 0; k < 8; ++k) out[i + k] = DecodeAnsi(in[i + k]);
    }
  }
  for (; i < length; ++i) out[i] = DecodeAnsi(in[i]);
}

// The byte the unit maps to, or -1 when Windows-1252 has none.
int EncodeAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == unit) return 0x80 + i;
  }
  return -1;
}

// The ASCII byte Windows sends for a unit that only looks like it (its
// best fit), or -1. Of Windows' table, the look-alikes that change what a
// URL names: the fullwidth forms of ASCII (but U+FF1F, which the table
// leaves to the default character) and the division slash.
int BestFitAnsi(char16_t unit) {
  if (unit >= 0xFF01 && unit <= 0xFF5E && unit != 0xFF1F) return unit - 0xFF01 + 0x21;
  if (unit == 0x2215) return '/';
  return -1;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// What is left to check once the input is known to be `length` units: one
// output unit per input unit, so the length is also the size needed.
int CheckRoom(size_t length, int capacity) {
  if (length > INT_MAX) return Fail(ERROR_ARITHMETIC_OVERFLOW);
  if (capacity != 0 && length > static_cast<size_t>(capacity)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  return static_cast<int>(length);
}

// Text to UTF-8 as Windows converts it, where the flags may only ask to fail
// on a lone surrogate (else it becomes U+FFFD) and a default character is no
// parameter at all.
int WideToUtf8(DWORD flags, const char16_t* in, size_t length, LPSTR out, int capacity,
               LPCSTR defaultChar, LPBOOL usedDefault) {
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  if (defaultChar != nullptr || usedDefault != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string bytes;
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = in[i];
    if (code >= 0xD800 && code <= 0xDFFF) {
      if (code < 0xDC00 && i + 1 < length && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (in[++i] - 0xDC00u);
      } else if ((flags & WC_ERR_INVALID_CHARS) != 0) {
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
      } else {
        code = 0xFFFD;
      }
    }
    if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
    } else if (code < 0x10000) {
      bytes += {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                static_cast<char>(0x80 | (code & 0x3F))};
    } else {
      bytes +=
          {static_cast<char>(0xF0 | code >> 18), static_cast<char>(0x80 | (code >> 12 & 0x3F)),
           static_cast<char>(0x80 | (code >> 6 & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
    }
  }
  const int size = CheckRoom(bytes.size(), capacity);
  if (size > 0 && capacity > 0) std::memcpy(out, bytes.data(), bytes.size());
  return size;
}

size_t WideLength(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

UINT GetACP() { return 1252; }

BOOL GetCPInfo(UINT CodePage, CPINFO* lpCPInfo) {
  if (lpCPInfo == nullptr || CodePage != CP_ACP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpCPInfo = CPINFO{};
  lpCPInfo->MaxCharSize = 1;
  lpCPInfo->DefaultChar[0] = '?';
  return TRUE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (CodePage != CP_ACP || lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (lpWideCharStr == nullptr && cchWideChar > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (dwFlags != 0) return Fail(ERROR_INVALID_FLAGS);
  const size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const int result = CheckRoom(length, cchWideChar);
  if (result > 0 && cchWideChar > 0) {
    DecodeAnsiInto(reinterpret_cast<const unsigned char*>(lpMultiByteStr), length, lpWideCharStr);
  }
  return result;
}

// Without WC_NO_BEST_FIT_CHARS a look-alike is sent as the byte it looks
// like, and the conversion does not count as lossy; any other unit without a
// byte becomes the default character.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  if ((CodePage != CP_ACP && CodePage != CP_UTF8) || lpWideCharStr == nullptr || cchWideChar == 0 ||
      cchWideChar < -1 || cbMultiByte < 0 || (lpMultiByteStr == nullptr && cbMultiByte > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const size_t length =
      cchWideChar == -1 ? WideLength(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  if (CodePage == CP_UTF8) {
    return WideToUtf8(dwFlags, lpWideCharStr, length, lpMultiByteStr, cbMultiByte, lpDefaultChar,
                      lpUsedDefaultChar);
  }
  if ((dwFlags & ~WC_NO_BEST_FIT_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  const bool bestFit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
  const char defaultChar = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  bool usedDefault = false;
  for (size_t i = 0; i < length; ++i) {
    int byte = EncodeAnsi(lpWideCharStr[i]);
    if (byte < 0 && bestFit) byte = BestFitAnsi(lpWideCharStr[i]);
    usedDefault = usedDefault || byte < 0;
    if (cbMultiByte > 0 && i < static_cast<size_t>(cbMultiByte)) {
      lpMultiByteStr[i] = byte < 0 ? defaultChar : static_cast<char>(byte);
    }
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return CheckRoom(length, cbMultiByte);
}
