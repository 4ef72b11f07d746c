#include "server/registration/registration_owner.h"

#include <objbase.h>
#include <windows.h>

#include <vector>

#include "QELUpdateCheck.h"
#include "com/registry_values.h"
#include "server/registration/type_library.h"

namespace qel::com {
namespace {

// The LocalServer32 value; empty when it is missing.
std::wstring LocalServer(RegistrationScope scope) {
  wchar_t clsid[40] = {};
  StringFromGUID2(CLSID_UpdateCheck, clsid, 40);
  const HKEY root = scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  return RegistryDefaultText(
      root, L"Software\\Classes\\CLSID\\" + std::wstring(clsid) + L"\\LocalServer32");
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
  const std::wstring registered = ExecutableOfCommand(LocalServer(scope));
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
