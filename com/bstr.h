// An owning BSTR, and the conversions between BSTR and the component's text.
// BSTRs exist only at the COM boundary.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/unique_resource.h"

namespace qel::com {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* AsWide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}
inline const char16_t* AsText(const wchar_t* text) noexcept {
  return reinterpret_cast<const char16_t*>(text);
}

// A BSTR's text; a null BSTR is the empty string. The counted length is kept,
// so embedded nulls survive.
inline std::u16string TextFromBstr(BSTR bstr) {
  if (!bstr) return {};
  return std::u16string(AsText(bstr), SysStringLen(bstr));
}

class Bstr : public UniqueResource<BSTR, &SysFreeString> {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text)
      : UniqueResource(SysAllocStringLen(AsWide(text.data()), static_cast<UINT>(text.size()))) {
    if (!Get()) throw std::bad_alloc();
  }

  static Bstr Attach(BSTR bstr) noexcept {
    Bstr result;
    *result.Put() = bstr;
    return result;
  }
  BSTR Detach() noexcept { return Release(); }
  std::u16string Text() const { return TextFromBstr(Get()); }
};

}  // namespace qel::com
