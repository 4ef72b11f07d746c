#include "server/registration/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/bstr.h"
#include "com/com_ptr.h"
#include "com/registry_values.h"
#include "server/registration/registration_owner.h"
#include "server/registration/type_library.h"

namespace qel::com {
namespace {

HKEY RootOf(RegistrationScope scope) {
  return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring ClassesKey(const std::wstring& subKey) { return L"Software\\Classes\\" + subKey; }

HRESULT SetDefaultValue(HKEY root, const std::wstring& key, const std::wstring& value) {
  const LONG status = RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, value.c_str(),
                                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(status);
}

HRESULT DeleteTree(HKEY root, const std::wstring& key) {
  const LONG status = RegDeleteTreeW(root, key.c_str());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

HRESULT SetValue(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* name,
                 const std::wstring& value) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  return HRESULT_FROM_WIN32(status);
}

// Writes entries below root\Software\Classes, each in its registry view.
HRESULT WriteEntries(HKEY root, const std::vector<RegistryEntry>& entries) {
  for (const RegistryEntry& entry : entries) {
    const REGSAM view = entry.view == RegistryView::Native ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const HRESULT hr = SetValue(root, view, ClassesKey(entry.key),
                                entry.name.empty() ? nullptr : entry.name.c_str(), entry.value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT LibraryAttributes(ITypeLib& library, TLIBATTR& attributes) {
  TLIBATTR* attr = nullptr;
  const HRESULT hr = library.GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  attributes = *attr;
  library.ReleaseTLibAttr(attr);
  return S_OK;
}

// The executable carries the library twice: for 64-bit and for 32-bit hosts.
constexpr SYSKIND kSyskinds[] = {SYS_WIN64, SYS_WIN32};

const wchar_t* SyskindName(SYSKIND syskind) { return syskind == SYS_WIN64 ? L"win64" : L"win32"; }

std::wstring VersionKey(const TLIBATTR& attributes) {
  wchar_t version[32] = {};
  swprintf(version, 32, L"%x.%x", attributes.wMajorVerNum, attributes.wMinorVerNum);
  return ClassesKey(L"TypeLib\\" + GuidText(attributes.guid) + L"\\" + version);
}

std::wstring LocaleKey(const TLIBATTR& attributes, LCID lcid) {
  wchar_t locale[16] = {};
  swprintf(locale, 16, L"%lx", static_cast<unsigned long>(lcid));
  return VersionKey(attributes) + L"\\" + locale;
}

// The library's entry for the language-neutral locale. The library's own
// locale is 0x409, and the type library marshaller of some COM runtimes
// (Wine's) looks only under locale 0: without this entry no proxy for the
// dual interface can be built there.
std::wstring NeutralLocaleKey(const TLIBATTR& attributes) { return LocaleKey(attributes, 0); }

HRESULT RegisterLibraryMachineWide(const std::wstring& modulePath) {
  std::wstring helpDir = PathsOf(modulePath).directory;
  for (const SYSKIND syskind : kSyskinds) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadServerTypeLibrary(library, syskind);
    TLIBATTR attributes{};
    if (SUCCEEDED(hr)) hr = LibraryAttributes(*library.Get(), attributes);
    std::wstring path = TypeLibraryPath(syskind);
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.Get(), path.data(), helpDir.data());
    if (SUCCEEDED(hr) && attributes.lcid != 0) {
      hr = SetDefaultValue(HKEY_LOCAL_MACHINE,
                           NeutralLocaleKey(attributes) + L"\\" + SyskindName(syskind), path);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterLibraryMachineWide() {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library);
  TLIBATTR a{};
  if (SUCCEEDED(hr)) hr = LibraryAttributes(*library.Get(), a);
  if (FAILED(hr)) return hr;
  // First, so that the system's removal finds the version's key empty.
  if (a.lcid != 0) {
    hr = DeleteTree(HKEY_LOCAL_MACHINE, NeutralLocaleKey(a));
    if (FAILED(hr)) return hr;
  }
  HRESULT result = S_OK;
  for (const SYSKIND syskind : {SYS_WIN32, SYS_WIN64}) {
    // A library that is not registered has nothing to remove (and some
    // runtimes call that an invalid argument).
    if (!RegistryKeyExists(HKEY_LOCAL_MACHINE,
                           LocaleKey(a, a.lcid) + L"\\" + SyskindName(syskind))) {
      continue;
    }
    hr = UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, syskind);
    if (FAILED(hr) && hr != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(result)) result = hr;
  }
  return result;
}

// ---- Per user --------------------------------------------------------------
// Written here rather than by RegisterTypeLibForUser, which under Wine writes
// machine-wide: a per-user registration must never touch another user's, or
// the machine's, entries. The keys are those RegisterTypeLib writes.

// Interface keys live in both registry views, as the system writes them.
constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// Deletes a key and everything below it in one registry view.
HRESULT DeleteTreeInView(HKEY root, REGSAM view, const std::wstring& key) {
  HKEY handle = nullptr;
  LONG status = RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle);
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status == ERROR_SUCCESS) {
    status = RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
  }
  if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(root, key.c_str(), view, 0);
  return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// Deletes the key if nothing is left in it, so that no empty key stays.
void DeleteIfEmpty(HKEY root, REGSAM view, const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return;
  DWORD subKeys = 1;
  DWORD values = 1;
  const LONG status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subKeys, nullptr,
                                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(handle);
  if (status == ERROR_SUCCESS && subKeys == 0 && values == 0) {
    RegDeleteKeyExW(root, key.c_str(), view, 0);
  }
}

HRESULT RegisterLibraryForUser(const std::wstring& modulePath) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library);
  std::vector<RegistryEntry> entries;
  if (SUCCEEDED(hr)) hr = LibraryEntries(*library.Get(), PathsOf(modulePath), entries);
  if (FAILED(hr)) return hr;
  return WriteEntries(HKEY_CURRENT_USER, entries);
}

HRESULT UnregisterLibraryForUser() {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library);
  TLIBATTR a{};
  if (SUCCEEDED(hr)) hr = LibraryAttributes(*library.Get(), a);
  std::vector<InterfaceEntry> interfaces;
  if (SUCCEEDED(hr)) hr = MarshalledInterfaces(*library.Get(), interfaces);
  if (FAILED(hr)) return hr;

  const HKEY root = HKEY_CURRENT_USER;
  HRESULT result = DeleteTree(root, VersionKey(a));
  DeleteIfEmpty(root, KEY_WOW64_64KEY, ClassesKey(L"TypeLib\\" + GuidText(a.guid)));
  DeleteIfEmpty(root, KEY_WOW64_64KEY, ClassesKey(L"TypeLib"));
  for (const REGSAM view : kViews) {
    for (const InterfaceEntry& entry : interfaces) {
      hr = DeleteTreeInView(root, view, ClassesKey(L"Interface\\" + entry.iid));
      if (SUCCEEDED(result)) result = hr;
    }
    DeleteIfEmpty(root, view, ClassesKey(L"Interface"));
  }
  return result;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = WriteEntries(RootOf(scope), ClassEntries(PathsOf(modulePath)));
    if (SUCCEEDED(hr)) {
      hr = scope == RegistrationScope::Machine ? RegisterLibraryMachineWide(modulePath)
                                               : RegisterLibraryForUser(modulePath);
    }
    if (FAILED(hr)) UnregisterServer(scope);
    return hr;
  } catch (...) {
    UnregisterServer(scope);
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer(RegistrationScope scope, std::wstring* registeredElsewhere) noexcept {
  try {
    // Another copy's registration stays: its hosts still need it.
    if (const auto other = RegisteredToAnotherServer(scope)) {
      if (registeredElsewhere) *registeredElsewhere = *other;
      return S_FALSE;
    }
    const HKEY root = RootOf(scope);
    HRESULT result = scope == RegistrationScope::Machine ? UnregisterLibraryMachineWide()
                                                         : UnregisterLibraryForUser();
    for (const std::wstring& key : {ClassesKey(L"CLSID\\" + GuidText(CLSID_UpdateCheck)),
                                    ClassesKey(kProgId), ClassesKey(kVersionIndependentProgId)}) {
      const HRESULT hr = DeleteTree(root, key);
      if (SUCCEEDED(result)) result = hr;
    }
    if (scope == RegistrationScope::User)
      DeleteIfEmpty(root, KEY_WOW64_64KEY, ClassesKey(L"CLSID"));
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qel::com
