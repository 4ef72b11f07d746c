#include "server/registration/registry_snapshot.h"

#include <utility>

#include "server/registration/registry_keys.h"

namespace qel::com {
namespace {

// The first of the key's parents (or the key itself) that is missing.
std::wstring FirstMissing(HKEY root, REGSAM view, const std::wstring& path) {
  for (std::wstring::size_type end = path.find(L'\\'); end != std::wstring::npos;
       end = path.find(L'\\', end + 1)) {
    const std::wstring parent = path.substr(0, end);
    if (!KeyExistsInView(root, view, parent)) return parent;
  }
  return path;
}

}  // namespace

HRESULT RegistrySnapshot::Take(HKEY root, const std::vector<KeyInView>& keys,
                               RegistrySnapshot& snapshot) noexcept {
  try {
    RegistrySnapshot taken;
    taken.m_root = root;
    for (const KeyInView& key : keys) {
      Tree tree{key.view, key.path, {}};
      const LONG status = ReadKeys(root, key.view, key.path, tree.keys);
      if (status == ERROR_FILE_NOT_FOUND && tree.keys.empty()) {
        tree.removed = FirstMissing(root, key.view, key.path);
      } else if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
      }
      taken.m_trees.push_back(std::move(tree));
    }
    snapshot = std::move(taken);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegistrySnapshot::Restore() const noexcept {
  try {
    HRESULT result = S_OK;
    const auto keep = [&result](HRESULT hr) {
      if (SUCCEEDED(result)) result = hr;
    };
    // All removals first: a missing key's parent made for it may hold
    // another of the keys.
    for (const Tree& tree : m_trees) keep(DeleteTreeInView(m_root, tree.view, tree.removed));
    for (const Tree& tree : m_trees) {
      for (const Key& key : tree.keys) {
        RegistryKeyHandle handle;
        LONG status = RegCreateKeyExW(m_root, key.path.c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE | tree.view, nullptr, handle.Put(), nullptr);
        for (const Value& value : key.values) {
          if (status != ERROR_SUCCESS) break;
          status = RegSetValueExW(handle.Get(), value.name.c_str(), 0, value.type,
                                  value.data.data(), static_cast<DWORD>(value.data.size()));
        }
        keep(HRESULT_FROM_WIN32(status));
      }
    }
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

LONG RegistrySnapshot::ReadKeys(HKEY root, REGSAM view, const std::wstring& path,
                                std::vector<Key>& keys) {
  RegistryKeyHandle handle;
  LONG status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, handle.Put());
  if (status != ERROR_SUCCESS) return status;
  DWORD subKeyCount = 0, longestSubKey = 0, valueCount = 0, longestName = 0, largestData = 0;
  status = RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subKeyCount, &longestSubKey,
                            nullptr, &valueCount, &longestName, &largestData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  Key key{path, {}};
  std::vector<wchar_t> name(longestName + 1);
  for (DWORD i = 0; i < valueCount; ++i) {
    DWORD nameSize = longestName + 1;
    DWORD type = 0;
    std::vector<BYTE> data(largestData);
    DWORD dataSize = largestData;
    status = RegEnumValueW(handle.Get(), i, name.data(), &nameSize, nullptr, &type, data.data(),
                           &dataSize);
    if (status != ERROR_SUCCESS) return status;
    data.resize(dataSize);
    key.values.push_back({std::wstring(name.data(), nameSize), type, std::move(data)});
  }
  keys.push_back(std::move(key));
  std::vector<std::wstring> subKeys;
  std::vector<wchar_t> subKey(longestSubKey + 1);
  for (DWORD i = 0; i < subKeyCount; ++i) {
    DWORD size = longestSubKey + 1;
    status =
        RegEnumKeyExW(handle.Get(), i, subKey.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    subKeys.emplace_back(subKey.data(), size);
  }
  handle.Reset();
  for (const std::wstring& child : subKeys) {
    status = ReadKeys(root, view, path + L"\\" + child, keys);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace qel::com
