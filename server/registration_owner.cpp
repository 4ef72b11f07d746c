#include "server/registration_owner.h"

#include <objbase.h>
#include <windows.h>

#include <vector>

#include "QELUpdateCheck.h"
#include "server/type_library.h"

namespace qel::com {
namespace {

// The LocalServer32 value; empty when it is missing.
std::wstring LocalServer(RegistrationScope scope) {
  wchar_t clsid[40] = {};
  StringFromGUID2(CLSID_UpdateCheck, clsid, 40);
  const std::wstring key = L"Software\\Classes\\CLSID\\" + std::wstring(clsid) + L"\\LocalServer32";
  const HKEY root = scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  DWORD size = 0;
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

// The executable of a command line: the quoted path, or all of it.
std::wstring ExecutableOf(const std::wstring& command) {
  if (!command.starts_with(L"\"")) return command;
  const size_t end = command.find(L'"', 1);
  return command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::vector<wchar_t> buffer(length);
  const DWORD written = GetFullPathNameW(path.c_str(), length, buffer.data(), nullptr);
  if (written == 0 || written >= length) return path;
  return std::wstring(buffer.data(), written);
}

}  // namespace

std::optional<std::wstring> RegisteredToAnotherServer(RegistrationScope scope) {
  const std::wstring registered = ExecutableOf(LocalServer(scope));
  if (registered.empty()) return std::nullopt;
  const std::wstring self = ModulePath();
  if (self.empty()) return std::nullopt;
  if (CompareStringOrdinal(FullPath(registered).c_str(), -1, FullPath(self).c_str(), -1, TRUE) ==
      CSTR_EQUAL) {
    return std::nullopt;
  }
  return registered;
}

}  // namespace qel::com
