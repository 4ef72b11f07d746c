// The registry entries that make UpdateCheck creatable, as one table: the
// server's registration writes them, and the installer packages are made
// from them.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <variant>
#include <vector>

namespace qel::com {

inline constexpr wchar_t kProgId[] = L"QELUpdateCheck1_1.UpdateCheck.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"QELUpdateCheck1_1.UpdateCheck";
inline constexpr wchar_t kClassName[] = L"UpdateCheck";
inline constexpr wchar_t kAppId[] = L"{48DDA4AD-018C-4538-B6E8-76863638F902}";
inline constexpr wchar_t kServerFileName[] = L"QELUpdateCheck1_1.exe";
// Who may start the server: SYSTEM, every user logged on here and every
// account that logged on (services, scheduled tasks), locally only
// (COM_RIGHTS_EXECUTE with local launch and local activation); nobody
// remotely. Owner and group are the Administrators, as for the system's own.
inline constexpr wchar_t kLaunchPermissionSddl[] =
    L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;IU)(A;;CCDCSW;;;AU)";

// What the entries point at. An installer passes its own placeholders.
struct InstalledPaths {
  std::wstring server;        // the executable, and the type library for 64-bit hosts
  std::wstring win32Library;  // the type library for 32-bit hosts
  std::wstring directory;     // the executable's directory, with its final separator
};

InstalledPaths PathsOf(const std::wstring& modulePath);

// Interface keys live in both registry views, as the system writes them.
enum class RegistryView { Native, Wow32 };

struct RegistryEntry {
  RegistryView view;
  std::wstring key;                                     // below Software\Classes
  std::wstring name;                                    // empty for the key's default value
  std::variant<std::wstring, std::vector<BYTE>> value;  // REG_SZ or REG_BINARY
};

// The class and its programmatic names.
std::vector<RegistryEntry> ClassEntries(const InstalledPaths& paths);

// Machine-wide only: the class's AppID, which says who may start the server.
// COM reads an AppID from the machine's keys alone; per user, the server's
// own call security is the control.
HRESULT AppIdEntries(std::vector<RegistryEntry>& entries) noexcept;

// The type library, under its own locale and the neutral one, and the
// interfaces a marshaller finds through it: what the system's type library
// registration writes.
HRESULT LibraryEntries(ITypeLib& library, const InstalledPaths& paths,
                       std::vector<RegistryEntry>& entries) noexcept;

std::wstring GuidText(REFGUID guid);

// A key that entries make theirs, with everything below it: a class, a
// programmatic name, an AppID, an interface, a version of a type library.
struct OwnedKey {
  RegistryView view;
  std::wstring key;  // below Software\Classes
};

// The keys the entries make theirs, each once, in the entries' order: what
// unregistration removes and a failed registration puts back.
std::vector<OwnedKey> OwnedKeys(const std::vector<RegistryEntry>& entries);

}  // namespace qel::com
