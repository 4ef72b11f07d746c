// The stand-in's code pages: Windows-1252 as the ANSI code page, mapped byte
// for byte as Windows maps it, and UTF-8. Argument checks and failures follow
// Win32, so code that runs here behaves as it will on Windows.
#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr UINT kWindows1252 = 1252;

// 0x80..0x9F as Windows maps them. The five bytes Windows-1252 leaves undefined
// become the C1 controls of the same value, as on Windows, so every byte
// survives a round trip.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t kReplacement = 0xFFFD;

bool IsAnsi(UINT codePage) { return codePage == CP_ACP || codePage == kWindows1252; }

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

// Counts every unit a conversion produces and stores those that fit, so one
// pass answers both the size query and the conversion itself.
template <typename Unit>
class Output {
 public:
  Output(Unit* buffer, int capacity) : m_buffer(buffer), m_capacity(buffer ? capacity : 0) {}

  void Put(Unit unit) {
    if (m_count < m_capacity) m_buffer[m_count] = unit;
    ++m_count;
  }

  // The Win32 result: the count, or 0 with the thread's last error set.
  int Finish() const {
    if (m_count > INT_MAX) {
      SetLastError(ERROR_ARITHMETIC_OVERFLOW);
      return 0;
    }
    if (m_buffer != nullptr && m_count > m_capacity) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    return static_cast<int>(m_count);
  }

 private:
  Unit* m_buffer;
  int64_t m_capacity;
  int64_t m_count = 0;
};

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

void PutCodePoint(Output<char16_t>& out, uint32_t codePoint) {
  if (codePoint < 0x10000) {
    out.Put(static_cast<char16_t>(codePoint));
  } else {
    codePoint -= 0x10000;
    out.Put(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.Put(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  }
}

// Decodes well-formed UTF-8; each maximal ill-formed subpart becomes one
// U+FFFD, or fails the whole conversion when the caller asked for that.
bool DecodeUtf8(const unsigned char* in, size_t length, bool strict, Output<char16_t>& out) {
  size_t i = 0;
  while (i < length) {
    const unsigned char lead = in[i];
    if (lead < 0x80) {
      out.Put(lead);
      ++i;
      continue;
    }
    int trailing = 0;
    uint32_t codePoint = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trailing = 1;
      codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trailing = 2;
      codePoint = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trailing = 3;
      codePoint = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    }
    size_t next = i + 1;
    int taken = 0;
    while (taken < trailing && next < length && in[next] >= low && in[next] <= high) {
      codePoint = (codePoint << 6) | (in[next] & 0x3F);
      low = 0x80;
      high = 0xBF;
      ++taken;
      ++next;
    }
    if (trailing == 0 || taken < trailing) {
      if (strict) return false;
      out.Put(kReplacement);
    } else {
      PutCodePoint(out, codePoint);
    }
    i = next;
  }
  return true;
}

void PutUtf8(Output<char>& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.Put(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.Put(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.Put(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.Put(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Encodes UTF-16 as UTF-8; a lone surrogate becomes U+FFFD, or fails the
// whole conversion when the caller asked for that.
bool EncodeUtf8(const char16_t* in, size_t length, bool strict, Output<char>& out) {
  for (size_t i = 0; i < length; ++i) {
    const char16_t unit = in[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (in[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (strict) return false;
      PutUtf8(out, kReplacement);
    } else {
      PutUtf8(out, unit);
    }
  }
  return true;
}

size_t WideLength(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

UINT GetACP() { return kWindows1252; }

BOOL GetCPInfo(UINT CodePage, CPINFO* lpCPInfo) {
  if (lpCPInfo == nullptr || (CodePage != CP_ACP && CodePage != kWindows1252)) {
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
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar > 0) ||
      static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  if (IsAnsi(CodePage)) {
    // Precomposed is all a single-byte code page without combining marks
    // produces; the stand-in has no composite or glyph forms.
    if ((dwFlags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) != 0) return Fail(ERROR_INVALID_FLAGS);
  } else if (CodePage == CP_UTF8) {
    if ((dwFlags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  const auto* in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  const size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  if (IsAnsi(CodePage) && cchWideChar > 0 && length <= static_cast<size_t>(cchWideChar)) {
    DecodeAnsiInto(in, length, lpWideCharStr);
    return static_cast<int>(length);
  }
  Output<char16_t> out(cchWideChar == 0 ? nullptr : lpWideCharStr, cchWideChar);
  if (IsAnsi(CodePage)) {
    // Every byte is defined, so MB_ERR_INVALID_CHARS never fails here.
    for (size_t i = 0; i < length; ++i) out.Put(DecodeAnsi(in[i]));
  } else if (!DecodeUtf8(in, length, strict, out)) {
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  return out.Finish();
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (lpMultiByteStr == nullptr && cbMultiByte > 0) ||
      static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const size_t length =
      cchWideChar == -1 ? WideLength(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  Output<char> out(cbMultiByte == 0 ? nullptr : lpMultiByteStr, cbMultiByte);

  if (CodePage == CP_UTF8) {
    if ((dwFlags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!EncodeUtf8(lpWideCharStr, length, (dwFlags & WC_ERR_INVALID_CHARS) != 0, out)) {
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    return out.Finish();
  }
  if (!IsAnsi(CodePage)) return Fail(ERROR_INVALID_PARAMETER);
  if ((dwFlags & ~WC_NO_BEST_FIT_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);

  // No best fit, whatever the flags say: a look-alike (Windows turns U+0100
  // into 'A') could change what a URL means, so only exact mappings are used.
  const char defaultChar = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  bool usedDefault = false;
  for (size_t i = 0; i < length; ++i) {
    const int byte = EncodeAnsi(lpWideCharStr[i]);
    if (byte < 0) {
      usedDefault = true;
      out.Put(defaultChar);
    } else {
      out.Put(static_cast<char>(byte));
    }
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return out.Finish();
}
