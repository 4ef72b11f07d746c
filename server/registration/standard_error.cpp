#include "server/registration/standard_error.h"

#include <windows.h>

#include <string>

#include "com/unique_handle.h"

namespace qel::com {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

void Write(HANDLE handle, const std::wstring& text) {
  if (IsConsole(handle)) {
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // A file or a pipe gets UTF-8, CR LF line ends as Windows programs write.
  std::wstring lines;
  for (const wchar_t ch : text) {
    if (ch == L'\n') lines += L'\r';
    lines += ch;
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, lines.data(), static_cast<int>(lines.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, lines.data(), static_cast<int>(lines.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void WriteStandardError(const std::wstring& text) noexcept {
  try {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      Write(handle, text);
      return;
    }
    // Started from a console window without redirection: a GUI program has
    // no handles of its own, but may write to its parent's console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    {
      const UniqueHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
      // Begins on a fresh line: the shell has already printed its prompt.
      if (console) Write(console.Get(), L"\n" + text);
    }
    FreeConsole();
  } catch (...) {
  }
}

}  // namespace qel::com
