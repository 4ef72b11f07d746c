// An owning BSTR, and the conversions between BSTR and the component's text.
// BSTRs exist only at the COM boundary.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

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

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text) {
    m_bstr = SysAllocStringLen(AsWide(text.data()), static_cast<UINT>(text.size()));
    if (!m_bstr) throw std::bad_alloc();
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      Reset();
      m_bstr = std::exchange(other.m_bstr, nullptr);
    }
    return *this;
  }
  ~Bstr() { Reset(); }

  static Bstr Attach(BSTR bstr) noexcept {
    Bstr result;
    result.m_bstr = bstr;
    return result;
  }

  void Reset() noexcept {
    if (BSTR bstr = std::exchange(m_bstr, nullptr)) SysFreeString(bstr);
  }
  BSTR Detach() noexcept { return std::exchange(m_bstr, nullptr); }
  BSTR* Put() noexcept {
    Reset();
    return &m_bstr;
  }
  BSTR Get() const noexcept { return m_bstr; }
  std::u16string Text() const { return TextFromBstr(m_bstr); }

 private:
  BSTR m_bstr = nullptr;
};

}  // namespace qel::com
