#include "server/registration/registration_owner.h"

#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/registry_values.h"
#include "com/unique_handle.h"
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

// FILE_ID_INFO and its class (Windows 8 and later), which this build's
// Windows 7 headers leave out.
struct FileIdInfo128 {
  ULONGLONG volumeSerialNumber;
  BYTE fileId[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// Which file a path names: its volume and its identifier there, whatever
// path names it (a short name, a link, a junction, a substituted drive).
struct FileIdentity {
  ULONGLONG volume = 0;
  BYTE id[16] = {};
};

bool IdentityOf(const std::wstring& path, FileIdentity& identity) {
  const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FileIdInfo128 info{};
  if (GetFileInformationByHandleEx(file.Get(), kFileIdInfo, &info, sizeof(info))) {
    identity.volume = info.volumeSerialNumber;
    std::memcpy(identity.id, info.fileId, sizeof(identity.id));
    return true;
  }
  // Before Windows 8, the 64-bit index, unique on NTFS (ReFS, whose
  // identifiers need 128 bits, came with Windows 8).
  BY_HANDLE_FILE_INFORMATION byHandle{};
  if (!GetFileInformationByHandle(file.Get(), &byHandle)) return false;
  const ULONGLONG index = (ULONGLONG{byHandle.nFileIndexHigh} << 32) | byHandle.nFileIndexLow;
  identity.volume = byHandle.dwVolumeSerialNumber;
  std::memcpy(identity.id, &index, sizeof(index));
  return true;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  FileIdentity first, second;
  if (IdentityOf(a, first) && IdentityOf(b, second)) {
    return first.volume == second.volume && std::memcmp(first.id, second.id, sizeof(first.id)) == 0;
  }
  // A file that cannot be opened (gone, say) is known by its path alone.
  return CompareStringOrdinal(FullPath(a).c_str(), -1, FullPath(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::optional<std::wstring> RegisteredToAnotherServer(RegistrationScope scope) {
  const std::wstring registered = ExecutableOfCommand(LocalServer(scope));
  if (registered.empty()) return std::nullopt;
  const std::wstring self = ModulePath();
  if (self.empty() || SameFile(registered, self)) return std::nullopt;
  return registered;
}

}  // namespace qel::com
