#include "server/registration/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <variant>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "server/registration/registration_fault.h"
#include "server/registration/registration_owner.h"
#include "server/registration/registry_keys.h"
#include "server/registration/registry_snapshot.h"
#include "server/registration/type_library.h"

namespace qel::com {
namespace {

HKEY RootOf(RegistrationScope scope) {
  return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring ClassesKey(const std::wstring& subKey) { return L"Software\\Classes\\" + subKey; }

REGSAM ViewOf(RegistryView view) {
  return view == RegistryView::Native ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// Every entry of the scope: the class's first (`classEntries` of them, with
// its AppID machine-wide), then the type library's. The type library's are
// written here too, machine-wide as well: the system's type library
// registration writes through HKEY_CLASSES_ROOT, which sends a key to the
// user's own classes wherever the user has it already.
HRESULT EntriesOf(RegistrationScope scope, std::vector<RegistryEntry>& entries,
                  size_t& classEntries) {
  const std::wstring modulePath = ModulePath();
  if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const InstalledPaths paths = PathsOf(modulePath);
  entries = ClassEntries(paths);
  HRESULT hr = scope == RegistrationScope::Machine ? AppIdEntries(entries) : S_OK;
  classEntries = entries.size();
  ComPtr<ITypeLib> library;
  if (SUCCEEDED(hr)) hr = LoadServerTypeLibrary(library);
  if (SUCCEEDED(hr)) hr = LibraryEntries(*library.Get(), paths, entries);
  return hr;
}

HRESULT WriteEntries(HKEY root, const RegistryEntry* begin, const RegistryEntry* end) noexcept {
  try {
    for (const RegistryEntry* entry = begin; entry != end; ++entry) {
      const std::wstring key = ClassesKey(entry->key);
      HRESULT hr = S_OK;
      if (const auto* text = std::get_if<std::wstring>(&entry->value)) {
        hr = SetValueInView(root, ViewOf(entry->view), key, entry->name, REG_SZ, text->c_str(),
                            static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
      } else {
        const auto& bytes = std::get<std::vector<BYTE>>(entry->value);
        hr = SetValueInView(root, ViewOf(entry->view), key, entry->name, REG_BINARY, bytes.data(),
                            static_cast<DWORD>(bytes.size()));
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::vector<KeyInView> KeysOf(const std::vector<RegistryEntry>& entries) {
  std::vector<KeyInView> keys;
  for (const OwnedKey& owned : OwnedKeys(entries))
    keys.push_back({ViewOf(owned.view), ClassesKey(owned.key)});
  return keys;
}

// Removes every key the entries own, and then the keys above it that it
// leaves empty: a type library's own key, and, per user, where the
// registration may have made them, the collections (CLSID, TypeLib...).
HRESULT RemoveEntries(RegistrationScope scope, const std::vector<RegistryEntry>& entries) {
  const HKEY root = RootOf(scope);
  HRESULT result = S_OK;
  for (const OwnedKey& owned : OwnedKeys(entries)) {
    const REGSAM view = ViewOf(owned.view);
    const HRESULT hr = DeleteTreeInView(root, view, ClassesKey(owned.key));
    if (SUCCEEDED(result)) result = hr;
    std::wstring parent = owned.key;
    for (auto slash = parent.rfind(L'\\'); slash != std::wstring::npos;
         slash = parent.rfind(L'\\')) {
      parent.resize(slash);
      const bool collection = parent.find(L'\\') == std::wstring::npos;
      if (!collection || scope == RegistrationScope::User)
        DeleteIfEmpty(root, view, ClassesKey(parent));
    }
  }
  return result;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    std::vector<RegistryEntry> entries;
    size_t classEntries = 0;
    HRESULT hr = EntriesOf(scope, entries, classEntries);
    if (FAILED(hr)) return hr;
    const HKEY root = RootOf(scope);
    // What this registration replaces (another copy's, say), put back if it
    // fails: a copy that worked before must go on working.
    RegistrySnapshot before;
    hr = RegistrySnapshot::Take(root, KeysOf(entries), before);
    if (FAILED(hr)) return hr;
    const RegistryEntry* const first = entries.data();
    hr = WriteEntries(root, first, first + classEntries);
    if (SUCCEEDED(hr)) hr = FaultAfterClassEntries();
    if (SUCCEEDED(hr)) hr = WriteEntries(root, first + classEntries, first + entries.size());
    if (FAILED(hr)) before.Restore();
    return hr;
  } catch (...) {
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
    std::vector<RegistryEntry> entries;
    size_t classEntries = 0;
    const HRESULT hr = EntriesOf(scope, entries, classEntries);
    if (FAILED(hr)) return hr;
    return RemoveEntries(scope, entries);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qel::com
