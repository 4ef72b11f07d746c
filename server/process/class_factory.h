// The class object that COM hands creation requests for UpdateCheck to.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>

#include "server/process/object_threads.h"
#include "server/process/server_lifetime.h"

namespace qel::com {

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory(ObjectThreads& threads, ServerLifetime& lifetime) noexcept
      : m_threads(threads), m_lifetime(lifetime) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~ClassFactory() = default;

  std::atomic<ULONG> m_refs{1};
  ObjectThreads& m_threads;
  ServerLifetime& m_lifetime;
};

}  // namespace qel::com
