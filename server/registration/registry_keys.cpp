#include "server/registration/registry_keys.h"

namespace qel::com {

HRESULT SetValueInView(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name,
                       DWORD type, const void* data, DWORD size) {
  RegistryKeyHandle handle;
  LONG status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                handle.Put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(handle.Get(), name.empty() ? nullptr : name.c_str(), 0, type,
                            static_cast<const BYTE*>(data), size);
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT DeleteTreeInView(HKEY root, REGSAM view, const std::wstring& key) {
  RegistryKeyHandle handle;
  LONG status = RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, handle.Put());
  if (status == ERROR_SUCCESS) status = RegDeleteTreeW(handle.Get(), nullptr);
  handle.Reset();
  if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(root, key.c_str(), view, 0);
  return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

void DeleteIfEmpty(HKEY root, REGSAM view, const std::wstring& key) {
  RegistryKeyHandle handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, handle.Put()) != ERROR_SUCCESS) return;
  DWORD subKeys = 1;
  DWORD values = 1;
  const LONG status = RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  handle.Reset();
  if (status == ERROR_SUCCESS && subKeys == 0 && values == 0) {
    RegDeleteKeyExW(root, key.c_str(), view, 0);
  }
}

bool KeyExistsInView(HKEY root, REGSAM view, const std::wstring& key) {
  RegistryKeyHandle handle;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, handle.Put()) == ERROR_SUCCESS;
}

}  // namespace qel::com
