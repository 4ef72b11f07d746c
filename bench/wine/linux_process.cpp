#include "bench/wine/linux_process.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

#include "com/unique_handle.h"

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

// The /proc directory of the one process whose command line names exePath.
std::optional<std::wstring> OnlyProcess(const std::wstring& exePath) {
  const std::wstring wanted = Lower(exePath);
  std::optional<std::wstring> found;
  int matches = 0;
  for (const auto& directory : ProcessDirectories()) {
    const std::wstring commandLine = Lower(Widen(ReadAll(directory + L"\\cmdline")));
    if (commandLine.find(wanted) == std::wstring::npos) continue;
    ++matches;
    found = directory;
  }
  if (matches != 1) return std::nullopt;
  return found;
}

}  // namespace

std::optional<size_t> LinuxResidentBytes(const std::wstring& exePath) {
  const auto directory = OnlyProcess(exePath);
  if (!directory) return std::nullopt;
  const std::string status = ReadAll(*directory + L"\\status");
  const size_t at = status.find("VmRSS:");
  if (at == std::string::npos) return std::nullopt;
  return std::stoull(status.substr(at + 6)) * 1024;
}

std::optional<double> LinuxCpuSeconds(const std::wstring& exePath) {
  const auto directory = OnlyProcess(exePath);
  if (!directory) return std::nullopt;
  // After the command name in parentheses: state is field 3, utime 14, stime 15.
  const std::string stat = ReadAll(*directory + L"\\stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stoull(field);
  }
  return static_cast<double>(ticks) / 100.0;  // USER_HZ
}

}  // namespace qel::bench
