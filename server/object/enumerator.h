// The enumerators a connection point container hands out (IEnumConnections,
// IEnumConnectionPoints): each walks a snapshot taken when it was made, so
// connections made or broken meanwhile do not disturb a walk in progress.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "com/com_ptr.h"

namespace qel::com {

// Element: what the snapshot keeps; Item: what Next hands out, holding a new
// reference made by ToItem.
template <class IEnum, class Item, class Element, Item (*ToItem)(const Element&)>
class Enumerator final : public IEnum {
 public:
  using Elements = std::vector<Element>;

  static HRESULT Create(std::shared_ptr<const Elements> elements, size_t position,
                        IEnum** out) noexcept {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Enumerator(std::move(elements), position);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IEnum))) {
      *out = static_cast<IEnum*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
    if (!items || (!fetched && count != 1)) return E_POINTER;
    const size_t available = m_elements->size() - m_position;
    const ULONG n = static_cast<ULONG>(std::min<size_t>(count, available));
    for (ULONG i = 0; i < n; ++i) items[i] = ToItem((*m_elements)[m_position + i]);
    m_position += n;
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t available = m_elements->size() - m_position;
    const size_t n = std::min<size_t>(count, available);
    m_position += n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override {
    return Create(m_elements, m_position, out);
  }

 private:
  Enumerator(std::shared_ptr<const Elements> elements, size_t position)
      : m_elements(std::move(elements)), m_position(std::min(position, m_elements->size())) {}
  ~Enumerator() = default;

  std::atomic<ULONG> m_refs{1};
  const std::shared_ptr<const Elements> m_elements;
  size_t m_position;
};

}  // namespace qel::com
