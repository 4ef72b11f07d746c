#include "com/registry_values.h"

#include <cwchar>

namespace qel::com {

std::wstring RegistryDefaultText(HKEY root, const std::wstring& key) {
  DWORD size = 0;
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size < sizeof(wchar_t)) {
    return {};
  }
  // One more than asked for: the value may change between the two reads.
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

bool RegistryKeyExists(HKEY root, const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring ExecutableOfCommand(const std::wstring& command) {
  if (command.starts_with(L"\"")) {
    const size_t end = command.find(L'"', 1);
    return command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
  }
  for (size_t at = 0; at + 4 <= command.size(); ++at) {
    if (_wcsnicmp(command.c_str() + at, L".exe", 4) == 0 &&
        (at + 4 == command.size() || command[at + 4] == L' ')) {
      return command.substr(0, at + 4);
    }
  }
  const size_t option = command.find_first_of(L"/-", command.find(L' '));
  std::wstring path = command.substr(0, option);
  while (!path.empty() && path.back() == L' ') path.pop_back();
  return path;
}

}  // namespace qel::com
