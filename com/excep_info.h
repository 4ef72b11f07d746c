// An owning EXCEPINFO: frees the texts that IDispatch::Invoke hands back.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace qel::com {

class ExcepInfo {
 public:
  ExcepInfo() noexcept : m_info{} {}
  ExcepInfo(const ExcepInfo&) = delete;
  ExcepInfo& operator=(const ExcepInfo&) = delete;
  ~ExcepInfo() { Clear(); }

  EXCEPINFO* Put() noexcept {
    Clear();
    return &m_info;
  }
  const EXCEPINFO& operator*() const noexcept { return m_info; }
  const EXCEPINFO* operator->() const noexcept { return &m_info; }

  // The deferred texts, if the callee left them to be filled in.
  void Fill() noexcept {
    if (m_info.pfnDeferredFillIn) {
      m_info.pfnDeferredFillIn(&m_info);
      m_info.pfnDeferredFillIn = nullptr;
    }
  }

 private:
  void Clear() noexcept {
    SysFreeString(m_info.bstrSource);
    SysFreeString(m_info.bstrDescription);
    SysFreeString(m_info.bstrHelpFile);
    m_info = EXCEPINFO{};
  }

  EXCEPINFO m_info;
};

}  // namespace qel::com
