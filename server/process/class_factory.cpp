#include "server/process/class_factory.h"

namespace qel::com {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ClassFactory::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return m_threads.CreateObject(iid, out);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    if (!m_lifetime.TryAddRef()) return CO_E_SERVER_STOPPING;
  } else {
    m_lifetime.Release();
  }
  return S_OK;
}

}  // namespace qel::com
