// An owning COM interface pointer: releases what it holds, once.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <utility>

namespace qel::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Shares `p`: takes a reference of its own.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_p, other.m_p);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference that the caller already owns.
  static ComPtr Attach(T* p) noexcept {
    ComPtr result;
    result.m_p = p;
    return result;
  }

  void Reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  T* Detach() noexcept { return std::exchange(m_p, nullptr); }

  // For out parameters: drops what is held and lends the slot.
  T** Put() noexcept {
    Reset();
    return &m_p;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

  T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  // Hands a new reference to an out parameter; an empty pointer hands null.
  void CopyTo(T** out) const noexcept {
    *out = m_p;
    if (m_p) m_p->AddRef();
  }

  template <class U>
  HRESULT As(ComPtr<U>& out) const noexcept {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(__uuidof(U), out.PutVoid());
  }
  HRESULT As(REFIID iid, void** out) const noexcept {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(iid, out);
  }

 private:
  T* m_p = nullptr;
};

}  // namespace qel::com
