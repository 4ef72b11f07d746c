#include "bench/wine/linux_process.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "server/unique_handle.h"

namespace qel::bench {
namespace {

// The whole of a /proc file: its size says 0, so read until the end.
std::string ReadAll(const std::wstring& path) {
  const com::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  std::string text;
  if (!file) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    text.append(buffer, read);
  return text;
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

std::wstring Widen(const std::string& text) {
  // Wine writes the Windows command line to /proc in UTF-8.
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::vector<std::wstring> ProcessDirectories() {
  std::vector<std::wstring> directories;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) return directories;
  do {
    const std::wstring name = entry.cFileName;
    if (!name.empty() && std::all_of(name.begin(), name.end(), iswdigit))
      directories.push_back(L"Z:\\proc\\" + name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return directories;
}

}  // namespace

std::optional<size_t> LinuxResidentBytes(const std::wstring& exePath) {
  const std::wstring wanted = Lower(exePath);
  std::optional<size_t> found;
  int matches = 0;
  for (const auto& directory : ProcessDirectories()) {
    const std::wstring commandLine = Lower(Widen(ReadAll(directory + L"\\cmdline")));
    if (commandLine.find(wanted) == std::wstring::npos) continue;
    const std::string status = ReadAll(directory + L"\\status");
    const size_t at = status.find("VmRSS:");
    if (at == std::string::npos) continue;
    ++matches;
    found = std::stoull(status.substr(at + 6)) * 1024;
  }
  if (matches != 1) return std::nullopt;
  return found;
}

}  // namespace qel::bench
