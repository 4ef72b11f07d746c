// What registry keys held before a registration wrote over them, so that a
// registration that fails half-way leaves the registry as it found it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qel::com {

struct KeyInView {
  REGSAM view;  // KEY_WOW64_64KEY or KEY_WOW64_32KEY
  std::wstring path;
};

class RegistrySnapshot {
 public:
  // Reads each key with everything below it; for a missing key, the first
  // of its parents that is missing too.
  static HRESULT Take(HKEY root, const std::vector<KeyInView>& keys,
                      RegistrySnapshot& snapshot) noexcept;

  // Removes every key as it is now and writes back what was there; what
  // was missing is removed with the parents made for it.
  HRESULT Restore() const noexcept;

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  struct Key {
    std::wstring path;
    std::vector<Value> values;
  };
  struct Tree {
    REGSAM view;
    std::wstring removed;   // what Restore removes: the key, or its first missing parent
    std::vector<Key> keys;  // the key and those below it, parents first; none if missing
  };

  // Appends the key and everything below it, parents first.
  static LONG ReadKeys(HKEY root, REGSAM view, const std::wstring& path, std::vector<Key>& keys);

  HKEY m_root = nullptr;
  std::vector<Tree> m_trees;
};

}  // namespace qel::com
