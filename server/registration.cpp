#include "server/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include <cwchar>
#include <string>
#include <utility>

#include "QELUpdateCheck.h"
#include "server/bstr.h"
#include "server/com_ptr.h"
#include "server/type_library.h"

// The per-user type library entry points are in oleaut32 but not in the
// headers of this tool chain.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD majorVersion, WORD minorVersion,
                                        LCID lcid, SYSKIND syskind);
}

namespace qel::com {
namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

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

HRESULT WriteKeys(RegistrationScope scope, const std::wstring& modulePath) {
  const HKEY root = RootOf(scope);
  const std::wstring clsid = GuidText(CLSID_UpdateCheck);
  const std::wstring classKey = ClassesKey(L"CLSID\\" + clsid);
  const std::wstring progIdKey = ClassesKey(kProgId);
  const std::wstring independentKey = ClassesKey(kVersionIndependentProgId);
  // Each key with its default value.
  const std::pair<std::wstring, std::wstring> entries[] = {
      {classKey, kClassName},
      // Quoted: the path may hold blanks.
      {classKey + L"\\LocalServer32", L"\"" + modulePath + L"\""},
      {classKey + L"\\ProgID", kProgId},
      {classKey + L"\\VersionIndependentProgID", kVersionIndependentProgId},
      {classKey + L"\\TypeLib", GuidText(LIBID_QELUpdateCheck1_1)},
      {classKey + L"\\Version", L"1.0"},
      {progIdKey, kClassName},
      {progIdKey + L"\\CLSID", clsid},
      {independentKey, kClassName},
      {independentKey + L"\\CLSID", clsid},
      {independentKey + L"\\CurVer", kProgId},
  };
  for (const auto& [key, value] : entries) {
    const HRESULT hr = SetDefaultValue(root, key, value);
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

// The library's entry for the language-neutral locale. The library's own
// locale is 0x409, and the type library marshaller of some COM runtimes
// (Wine's) looks only under locale 0: without this entry no proxy for the
// dual interface can be built there.
std::wstring NeutralLocaleKey(const TLIBATTR& attributes) {
  wchar_t version[32] = {};
  swprintf(version, 32, L"%x.%x", attributes.wMajorVerNum, attributes.wMinorVerNum);
  return ClassesKey(L"TypeLib\\" + GuidText(attributes.guid) + L"\\" + version + L"\\0");
}

const wchar_t* SyskindName(SYSKIND syskind) { return syskind == SYS_WIN64 ? L"win64" : L"win32"; }

HRESULT RegisterLibrary(RegistrationScope scope, const std::wstring& modulePath) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library);
  TLIBATTR attributes{};
  if (SUCCEEDED(hr)) hr = LibraryAttributes(*library.Get(), attributes);
  if (FAILED(hr)) return hr;
  std::wstring path = modulePath;
  hr = scope == RegistrationScope::Machine
           ? RegisterTypeLib(library.Get(), path.data(), nullptr)
           : RegisterTypeLibForUser(library.Get(), path.data(), nullptr);
  if (FAILED(hr) || attributes.lcid == 0) return hr;
  return SetDefaultValue(RootOf(scope),
                         NeutralLocaleKey(attributes) + L"\\" + SyskindName(attributes.syskind),
                         modulePath);
}

HRESULT UnregisterLibrary(RegistrationScope scope) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library);
  TLIBATTR attributes{};
  if (SUCCEEDED(hr)) hr = LibraryAttributes(*library.Get(), attributes);
  if (FAILED(hr)) return hr;
  // First, so that the system's removal finds the version's key empty.
  if (attributes.lcid != 0) {
    hr = DeleteTree(RootOf(scope), NeutralLocaleKey(attributes));
    if (FAILED(hr)) return hr;
  }
  const TLIBATTR& a = attributes;
  // A library that is not registered has nothing to remove (and some
  // runtimes call that an invalid argument).
  Bstr registeredPath;
  if (QueryPathOfRegTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, registeredPath.Put()) ==
      TYPE_E_LIBNOTREGISTERED) {
    return S_OK;
  }
  hr = scope == RegistrationScope::Machine
           ? UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind)
           : UnRegisterTypeLibForUser(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
  return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = WriteKeys(scope, modulePath);
    if (SUCCEEDED(hr)) hr = RegisterLibrary(scope, modulePath);
    if (FAILED(hr)) UnregisterServer(scope);
    return hr;
  } catch (...) {
    UnregisterServer(scope);
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept {
  try {
    const HKEY root = RootOf(scope);
    HRESULT result = UnregisterLibrary(scope);
    for (const std::wstring& key : {ClassesKey(L"CLSID\\" + GuidText(CLSID_UpdateCheck)),
                                    ClassesKey(kProgId), ClassesKey(kVersionIndependentProgId)}) {
      const HRESULT hr = DeleteTree(root, key);
      if (SUCCEEDED(result)) result = hr;
    }
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qel::com
