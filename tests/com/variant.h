// An owning VARIANT: cleared, with whatever it holds, when it goes.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace qel::com {

class Variant {
 public:
  Variant() noexcept { VariantInit(&m_v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&m_v); }

  VARIANT* Get() noexcept { return &m_v; }
  const VARIANT* Get() const noexcept { return &m_v; }
  VARIANT* operator->() noexcept { return &m_v; }
  const VARIANT* operator->() const noexcept { return &m_v; }

  // For out parameters: clears what is held first.
  VARIANT* Put() noexcept {
    VariantClear(&m_v);
    return &m_v;
  }

 private:
  VARIANT m_v;
};

}  // namespace qel::com
