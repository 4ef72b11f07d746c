// The registry entries that make UpdateCheck creatable, as one table: the
// server's registration writes them, and the installer packages are made
// from them.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

namespace qel::com {

inline constexpr wchar_t kProgId[] = L"QELUpdateCheck1_1.UpdateCheck.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"QELUpdateCheck1_1.UpdateCheck";
inline constexpr wchar_t kClassName[] = L"UpdateCheck";

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
  std::wstring key;   // below Software\Classes
  std::wstring name;  // empty for the key's default value
  std::wstring value;
};

// The class and its programmatic names.
std::vector<RegistryEntry> ClassEntries(const InstalledPaths& paths);

// The type library, under its own locale and the neutral one, and the
// interfaces a marshaller finds through it: what the system's type library
// registration writes.
HRESULT LibraryEntries(ITypeLib& library, const InstalledPaths& paths,
                       std::vector<RegistryEntry>& entries) noexcept;

std::wstring GuidText(REFGUID guid);

struct InterfaceEntry {
  std::wstring iid;
  std::wstring name;
  const wchar_t* proxyStub;
};

// The dual and automation interfaces and the dispatch interfaces.
HRESULT MarshalledInterfaces(ITypeLib& library, std::vector<InterfaceEntry>& entries);

}  // namespace qel::com
