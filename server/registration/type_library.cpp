#include "server/registration/type_library.h"

#include <oleauto.h>

#include <vector>

namespace qel::com {

std::wstring ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring TypeLibraryPath(SYSKIND syskind) {
  const std::wstring path = ModulePath();
  if (path.empty() || syskind == SYS_WIN64) return path;
  return path + L"\\2";
}

HRESULT LoadServerTypeLibrary(ComPtr<ITypeLib>& library, SYSKIND syskind) noexcept {
  try {
    const std::wstring path = TypeLibraryPath(syskind);
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qel::com
