#include "server/registration/registration_entries.h"

#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <utility>

#include "QELUpdateCheck.h"
#include "com/bstr.h"
#include "com/com_ptr.h"
#include "com/security_descriptor.h"

namespace qel::com {
namespace {

// The type library marshaller, for interfaces with a function table, and the
// dispatch marshaller, for pure dispatch interfaces.
constexpr wchar_t kTypeLibMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";

RegistryEntry Default(const std::wstring& key, const std::wstring& value) {
  return {RegistryView::Native, key, {}, value};
}

// The key's first `count` names (all of them, if it has fewer).
std::wstring FirstNames(const std::wstring& key, int count) {
  std::wstring::size_type end = 0;
  for (int i = 0; i < count; ++i) {
    end = key.find(L'\\', i == 0 ? 0 : end + 1);
    if (end == std::wstring::npos) return key;
  }
  return key.substr(0, end);
}

struct InterfaceEntry {
  std::wstring iid;
  std::wstring name;
  const wchar_t* proxyStub;
};

// The dual and automation interfaces and the dispatch interfaces.
HRESULT MarshalledInterfaces(ITypeLib& library, std::vector<InterfaceEntry>& entries) {
  for (UINT i = 0; i < library.GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    HRESULT hr = library.GetTypeInfo(i, info.Put());
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const TYPEATTR a = *attr;
    info->ReleaseTypeAttr(attr);
    const bool automation = a.typekind == TKIND_INTERFACE &&
                            (a.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
    if (!automation && a.typekind != TKIND_DISPATCH) continue;
    Bstr name;
    hr = info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    const bool dual = (a.wTypeFlags & TYPEFLAG_FDUAL) != 0;
    entries.push_back({GuidText(a.guid), AsWide(name.Text().c_str()),
                       automation || dual ? kTypeLibMarshaller : kDispatchMarshaller});
  }
  return S_OK;
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

InstalledPaths PathsOf(const std::wstring& modulePath) {
  const std::wstring::size_type slash = modulePath.find_last_of(L"\\/");
  return {modulePath, modulePath + L"\\2",
          slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1)};
}

std::vector<RegistryEntry> ClassEntries(const InstalledPaths& paths) {
  const std::wstring clsid = GuidText(CLSID_UpdateCheck);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring progIdKey = kProgId;
  const std::wstring independentKey = kVersionIndependentProgId;
  return {
      Default(classKey, kClassName),
      // Quoted: the path may hold blanks.
      Default(classKey + L"\\LocalServer32", L"\"" + paths.server + L"\""),
      Default(classKey + L"\\ProgID", kProgId),
      Default(classKey + L"\\VersionIndependentProgID", kVersionIndependentProgId),
      Default(classKey + L"\\TypeLib", GuidText(LIBID_QELUpdateCheck1_1)),
      Default(classKey + L"\\Version", L"1.0"),
      Default(progIdKey, kClassName),
      Default(progIdKey + L"\\CLSID", clsid),
      Default(independentKey, kClassName),
      Default(independentKey + L"\\CLSID", clsid),
      Default(independentKey + L"\\CurVer", kProgId),
  };
}

HRESULT AppIdEntries(std::vector<RegistryEntry>& entries) noexcept {
  try {
    std::vector<BYTE> launchPermission;
    const HRESULT hr = SelfRelativeFromSddl(kLaunchPermissionSddl, launchPermission);
    if (FAILED(hr)) return hr;
    const std::wstring appIdKey = L"AppID\\" + std::wstring(kAppId);
    entries.insert(
        entries.end(),
        {
            {RegistryView::Native, L"CLSID\\" + GuidText(CLSID_UpdateCheck), L"AppID", kAppId},
            Default(appIdKey, L"QEL Update Checker"),
            {RegistryView::Native, appIdKey, L"LaunchPermission", launchPermission},
            // The executable's name mapped to it: how COM finds the AppID of
            // the running process.
            {RegistryView::Native, L"AppID\\" + std::wstring(kServerFileName), L"AppID", kAppId},
        });
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::vector<OwnedKey> OwnedKeys(const std::vector<RegistryEntry>& entries) {
  std::vector<OwnedKey> keys;
  for (const RegistryEntry& entry : entries) {
    // A class, an AppID or an interface is ours by its name below the
    // collection, a type library by its identifier and version; a
    // programmatic name is a top key of its own.
    const std::wstring collection = FirstNames(entry.key, 1);
    const int names =
        collection == L"TypeLib"                                                         ? 3
        : collection == L"CLSID" || collection == L"AppID" || collection == L"Interface" ? 2
                                                                                         : 1;
    OwnedKey owned{entry.view, FirstNames(entry.key, names)};
    const bool known = std::any_of(keys.begin(), keys.end(), [&](const OwnedKey& key) {
      return key.view == owned.view && key.key == owned.key;
    });
    if (!known) keys.push_back(std::move(owned));
  }
  return keys;
}

HRESULT LibraryEntries(ITypeLib& library, const InstalledPaths& paths,
                       std::vector<RegistryEntry>& entries) noexcept {
  try {
    TLIBATTR* attr = nullptr;
    HRESULT hr = library.GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR a = *attr;
    library.ReleaseTLibAttr(attr);
    Bstr name, title;
    hr = library.GetDocumentation(-1, name.Put(), title.Put(), nullptr, nullptr);
    std::vector<InterfaceEntry> interfaces;
    if (SUCCEEDED(hr)) hr = MarshalledInterfaces(library, interfaces);
    if (FAILED(hr)) return hr;

    const std::wstring libraryId = GuidText(a.guid);
    wchar_t version[32] = {};
    swprintf(version, 32, L"%x.%x", a.wMajorVerNum, a.wMinorVerNum);
    wchar_t flags[16] = {};
    swprintf(flags, 16, L"%u", static_cast<unsigned>(a.wLibFlags));
    const std::wstring versionKey = L"TypeLib\\" + libraryId + L"\\" + version;
    entries.push_back(
        Default(versionKey, AsWide((title.Text().empty() ? name : title).Text().c_str())));
    entries.push_back(Default(versionKey + L"\\FLAGS", flags));
    entries.push_back(Default(versionKey + L"\\HELPDIR", paths.directory));
    // The library's own locale is 0x409, and the type library marshaller of
    // some COM runtimes (Wine's) looks only under locale 0: without that
    // entry no proxy for the dual interface can be built there.
    for (const LCID lcid : {a.lcid, LCID{0}}) {
      wchar_t locale[16] = {};
      swprintf(locale, 16, L"%lx", static_cast<unsigned long>(lcid));
      const std::wstring localeKey = versionKey + L"\\" + locale;
      entries.push_back(Default(localeKey + L"\\win64", paths.server));
      entries.push_back(Default(localeKey + L"\\win32", paths.win32Library));
      if (lcid == 0) break;
    }
    for (const RegistryView view : {RegistryView::Native, RegistryView::Wow32}) {
      for (const InterfaceEntry& entry : interfaces) {
        const std::wstring key = L"Interface\\" + entry.iid;
        entries.push_back({view, key, {}, entry.name});
        entries.push_back({view, key + L"\\ProxyStubClsid", {}, entry.proxyStub});
        entries.push_back({view, key + L"\\ProxyStubClsid32", {}, entry.proxyStub});
        entries.push_back({view, key + L"\\TypeLib", {}, libraryId});
        entries.push_back({view, key + L"\\TypeLib", L"Version", version});
      }
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qel::com
