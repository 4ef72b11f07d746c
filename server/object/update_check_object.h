// UpdateCheck as its hosts see it: the automation object around the
// component's update checker, with its dual interface, its event connection
// point and its error information.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <atomic>
#include <functional>
#include <memory>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "common/events.h"
#include "retrieval/check_limits.h"
#include "server/object/connection_point.h"
#include "server/process/event_couriers.h"

namespace qel {
class UpdateCheck;
}

namespace qel::com {

class UpdateCheckObject final : public _UpdateCheck,
                                public ISupportErrorInfo,
                                public IConnectionPointContainer,
                                public IProvideClassInfo2 {
 public:
  // Makes an object on the calling thread, which must run a message loop for
  // as long as the object lives. `onDestroyed` runs on that thread when the
  // last reference has gone.
  // Its sinks are in a table of `couriers`, which carry its events.
  static HRESULT Create(ITypeLib& library, CheckLimits limits, EventCouriers& couriers,
                        std::function<void()> onDestroyed, ComPtr<IUnknown>& object) noexcept;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;

  // _UpdateCheck
  HRESULT STDMETHODCALLTYPE IsActive(VARIANT_BOOL* bIsActive) override;
  HRESULT STDMETHODCALLTYPE StartCheck(BSTR strURL) override;
  HRESULT STDMETHODCALLTYPE IsUpgradeAvailable(LONG lMajor, LONG lMinor, LONG lBuild,
                                               VARIANT_BOOL* bIsUpgradeAvailable) override;
  HRESULT STDMETHODCALLTYPE get_Major(LONG* lMajor) override;
  HRESULT STDMETHODCALLTYPE get_Minor(LONG* lMinor) override;
  HRESULT STDMETHODCALLTYPE get_Build(LONG* lBuild) override;
  HRESULT STDMETHODCALLTYPE get_UpdateURL(BSTR* strUpdateURL) override;
  HRESULT STDMETHODCALLTYPE get_VersionHistory(BSTR* strVersionHistory) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

 private:
  explicit UpdateCheckObject(std::function<void()> onDestroyed) noexcept;
  ~UpdateCheckObject();
  HRESULT Initialize(ITypeLib& library, CheckLimits limits, EventCouriers& couriers);
  void m_cUpdateCheck_UpdateCheckComplete(int32_t lErrorNumber,
                                          const std::u16string& strErrorDescription) noexcept;

  std::atomic<ULONG> m_refs{1};
  std::function<void()> m_onDestroyed;
  // The dual interface's dispatch side (what GetTypeInfo hands out), its
  // function table side (what calls by DISPID go through) and the class.
  ComPtr<ITypeInfo> m_dispatchInfo;
  ComPtr<ITypeInfo> m_interfaceInfo;
  ComPtr<ITypeInfo> m_classInfo;
  EventConnectionPoint m_connectionPoint{*this};
  std::shared_ptr<UpdateCheck> m_cUpdateCheck;
  // Declared after the checker, so that the binding ends first.
  Connection m_completeBinding;
};

}  // namespace qel::com
