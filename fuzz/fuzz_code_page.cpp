// The Linux stand-in's ANSI code page conversions against Windows-1252 as
// published: one unit per byte and back, a look-alike's ASCII byte unless
// WC_NO_BEST_FIT_CHARS, '?' (or the caller's default) for any other unit
// without a byte, and no write past a buffer of the size the caller gave.
//
// Input: the bytes to decode; read again as UTF-16 (low byte first) it is the
// text to encode. Its first byte picks the too-small buffer sizes, and an odd
// last byte doubles as the default character.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/windows_1252.h"

namespace {

using qel::fuzz::Check;

std::string Where(std::size_t index) { return "at index " + std::to_string(index); }

// Buffers are allocated at exactly the size passed, so that AddressSanitizer
// sees any write past the end.
template <typename Unit>
std::unique_ptr<Unit[]> Exact(std::size_t count) {
  return std::unique_ptr<Unit[]>(new Unit[count == 0 ? 1 : count]);
}

std::u16string Decoded(const char* bytes, int length) {
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
  Check(needed == length, "bytes to text: not one unit per byte",
        [&] { return std::to_string(length) + " bytes, " + std::to_string(needed) + " units"; });
  auto buffer = Exact<char16_t>(static_cast<std::size_t>(needed));
  const int written = MultiByteToWideChar(CP_ACP, 0, bytes, length, buffer.get(), needed);
  Check(written == needed, "bytes to text: conversion and size query differ");
  return std::u16string(buffer.get(), static_cast<std::size_t>(written));
}

void CheckDecoding(const uint8_t* data, std::size_t size, uint8_t shortBy) {
  const auto* bytes = reinterpret_cast<const char*>(data);
  const int length = static_cast<int>(size);
  const std::u16string text = Decoded(bytes, length);
  for (std::size_t i = 0; i < size; ++i) {
    Check(text[i] == qel::fuzz::Windows1252Unit(data[i]), "bytes to text: wrong unit",
          [&] { return Where(i); });
  }

  // Back to bytes: every byte survives the round trip.
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  auto back = Exact<char>(size);
  BOOL usedDefault = TRUE;
  const int backLength =
      WideCharToMultiByte(CP_ACP, 0, wide, length, back.get(), length, nullptr, &usedDefault);
  Check(backLength == length && std::memcmp(back.get(), data, size) == 0,
        "bytes to text to bytes is not the identity");
  Check(usedDefault == FALSE, "round trip reported a default character");

  // A buffer one to `size` units short: the call fails and stays inside it.
  if (size >= 2) {
    const std::size_t capacity = size - 1 - shortBy % (size - 1);
    auto small = Exact<char16_t>(capacity);
    SetLastError(0);
    Check(MultiByteToWideChar(CP_ACP, 0, bytes, length, small.get(), static_cast<int>(capacity)) ==
                  0 &&
              GetLastError() == ERROR_INSUFFICIENT_BUFFER,
          "bytes to text: a short buffer did not fail with ERROR_INSUFFICIENT_BUFFER");
  }

  // NUL-terminated: up to and including the first NUL.
  const std::string terminated(bytes, strnlen(bytes, size));
  const int withNul = MultiByteToWideChar(CP_ACP, 0, terminated.c_str(), -1, nullptr, 0);
  Check(withNul == static_cast<int>(terminated.size()) + 1,
        "bytes to text: the NUL-terminated length is wrong");
  auto nulText = Exact<char16_t>(static_cast<std::size_t>(withNul));
  Check(MultiByteToWideChar(CP_ACP, 0, terminated.c_str(), -1, nulText.get(), withNul) == withNul &&
            nulText[static_cast<std::size_t>(withNul) - 1] == 0 &&
            std::u16string_view(nulText.get(), terminated.size()) ==
                std::u16string_view(text).substr(0, terminated.size()),
        "bytes to text: the NUL-terminated conversion differs");
}

void CheckEncoding(const std::u16string& text, const char* defaultChar, uint8_t shortBy) {
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  Check(needed == length, "text to bytes: not one byte per unit");

  // Best-fit, then not: a look-alike goes as its ASCII byte, or as the
  // default character and counted as lost.
  for (const DWORD flags : {DWORD{0}, DWORD{WC_NO_BEST_FIT_CHARS}}) {
    auto bytes = Exact<char>(text.size());
    BOOL usedDefault = 2;
    const int written = WideCharToMultiByte(CP_ACP, flags, wide, length, bytes.get(), length,
                                            defaultChar, &usedDefault);
    Check(written == length, "text to bytes: conversion and size query differ");
    const char fallback = defaultChar != nullptr ? *defaultChar : '?';
    bool anyUnmapped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::optional<uint8_t> byte = qel::fuzz::Windows1252Byte(text[i]);
      if (!byte && flags == 0) byte = qel::fuzz::Windows1252LookAlike(text[i]);
      anyUnmapped = anyUnmapped || !byte;
      const char expected = byte ? static_cast<char>(*byte) : fallback;
      Check(bytes[i] == expected, "text to bytes: wrong byte", [&] {
        return Where(i) + " for " + qel::fuzz::Shown(text.substr(i, 1)) + ", flags " +
               std::to_string(flags);
      });
    }
    Check(usedDefault == (anyUnmapped ? TRUE : FALSE), "text to bytes: wrong default-used flag");
  }

  if (text.size() >= 2) {
    const std::size_t capacity = text.size() - 1 - shortBy % (text.size() - 1);
    auto small = Exact<char>(capacity);
    SetLastError(0);
    Check(WideCharToMultiByte(CP_ACP, 0, wide, length, small.get(), static_cast<int>(capacity),
                              nullptr, nullptr) == 0 &&
              GetLastError() == ERROR_INSUFFICIENT_BUFFER,
          "text to bytes: a short buffer did not fail with ERROR_INSUFFICIENT_BUFFER");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    // Win32 refuses an empty input rather than answering 0 units.
    char16_t unit = 0;
    SetLastError(0);
    Check(MultiByteToWideChar(CP_ACP, 0, "", 0, &unit, 1) == 0 &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "an empty input was not refused");
    return 0;
  }
  const uint8_t shortBy = data[0];
  CheckDecoding(data, size, shortBy);

  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const char oddLast = static_cast<char>(data[size - 1]);
  if (!text.empty()) CheckEncoding(text, size % 2 == 1 ? &oddLast : nullptr, shortBy);
  return 0;
}
