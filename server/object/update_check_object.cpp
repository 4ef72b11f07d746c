#include "server/object/update_check_object.h"

#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <utility>
#include <vector>

#include "com/bstr.h"
#include "server/object/enumerator.h"
#include "server/object/error_info.h"
#include "service/UpdateCheck.h"

namespace qel::com {
namespace {

VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

IConnectionPoint* ToConnectionPoint(const ComPtr<IConnectionPoint>& point) {
  point->AddRef();
  return point.Get();
}

using ConnectionPointEnumerator = Enumerator<IEnumConnectionPoints, IConnectionPoint*,
                                             ComPtr<IConnectionPoint>, &ToConnectionPoint>;

HRESULT TypeInfoOf(ITypeLib& library, REFGUID guid, ComPtr<ITypeInfo>& info) {
  return library.GetTypeInfoOfGuid(guid, info.Put());
}

// The function table side of a dual interface's type information.
HRESULT InterfaceSideOf(const ComPtr<ITypeInfo>& dispatchInfo, ComPtr<ITypeInfo>& info) {
  HREFTYPE href = 0;
  HRESULT hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &href);
  if (FAILED(hr)) return hr;
  return dispatchInfo->GetRefTypeInfo(href, info.Put());
}

// Fills EXCEPINFO from a failed member's error information, as a caller
// through IDispatch expects to find it.
void FillExcepInfo(HRESULT hr, IErrorInfo& info, EXCEPINFO& excepInfo) {
  excepInfo = EXCEPINFO{};
  excepInfo.scode = hr;
  info.GetSource(&excepInfo.bstrSource);
  info.GetDescription(&excepInfo.bstrDescription);
  info.GetHelpFile(&excepInfo.bstrHelpFile);
  info.GetHelpContext(&excepInfo.dwHelpContext);
}

}  // namespace

HRESULT UpdateCheckObject::Create(ITypeLib& library, CheckLimits limits, EventCouriers& couriers,
                                  std::function<void()> onDestroyed,
                                  ComPtr<IUnknown>& object) noexcept {
  UpdateCheckObject* created = new (std::nothrow) UpdateCheckObject(std::move(onDestroyed));
  if (!created) return E_OUTOFMEMORY;
  // From here the object owns itself: a failed start ends with its release.
  auto owned = ComPtr<IUnknown>::Attach(static_cast<_UpdateCheck*>(created));
  const HRESULT hr = created->Initialize(library, limits, couriers);
  if (FAILED(hr)) return hr;
  object = std::move(owned);
  return S_OK;
}

UpdateCheckObject::UpdateCheckObject(std::function<void()> onDestroyed) noexcept
    : m_onDestroyed(std::move(onDestroyed)) {}

UpdateCheckObject::~UpdateCheckObject() {
  // The checker goes first, and with it any armed trigger: letting go of the
  // sinks calls out of this thread, and a check must not start meanwhile.
  m_completeBinding.Reset();
  m_cUpdateCheck.reset();
  m_connectionPoint.Clear();
  if (m_onDestroyed) m_onDestroyed();
}

HRESULT UpdateCheckObject::Initialize(ITypeLib& library, CheckLimits limits,
                                      EventCouriers& couriers) {
  // A host may turn its event away while busy for as long as a check may take.
  HRESULT hr = m_connectionPoint.Initialize(couriers, limits.download);
  if (SUCCEEDED(hr)) hr = TypeInfoOf(library, IID__UpdateCheck, m_dispatchInfo);
  if (SUCCEEDED(hr)) hr = InterfaceSideOf(m_dispatchInfo, m_interfaceInfo);
  if (SUCCEEDED(hr)) hr = TypeInfoOf(library, CLSID_UpdateCheck, m_classInfo);
  if (FAILED(hr)) return hr;
  return CallMember(IID__UpdateCheck, [this, limits] {
    m_cUpdateCheck = UpdateCheck::Create(limits);
    m_completeBinding = m_cUpdateCheck->UpdateCheckComplete.Bind(
        [this](int32_t lErrorNumber, std::u16string strErrorDescription) {
          m_cUpdateCheck_UpdateCheckComplete(lErrorNumber, strErrorDescription);
        });
  });
}

void UpdateCheckObject::m_cUpdateCheck_UpdateCheckComplete(
    int32_t lErrorNumber, const std::u16string& strErrorDescription) noexcept {
  // Letting go of a sink whose host has gone calls out of this thread, and
  // the call may be what ends the object: it stays until the event is handed over.
  const ComPtr<IUnknown> self(static_cast<_UpdateCheck*>(this));
  m_connectionPoint.Fire(lErrorNumber, strErrorDescription);
}

HRESULT UpdateCheckObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID__UpdateCheck)) {
    *out = static_cast<_UpdateCheck*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *out = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)) {
    *out = static_cast<IProvideClassInfo2*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG UpdateCheckObject::AddRef() { return ++m_refs; }

ULONG UpdateCheckObject::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

HRESULT UpdateCheckObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT UpdateCheckObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  m_dispatchInfo.CopyTo(info);
  return S_OK;
}

HRESULT UpdateCheckObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                         DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return DispGetIDsOfNames(m_interfaceInfo.Get(), names, count, ids);
}

HRESULT UpdateCheckObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // Error information left over from an earlier call must not be taken for
  // this call's.
  SetErrorInfo(0, nullptr);
  const ComPtr<IUnknown> self(static_cast<_UpdateCheck*>(this));
  HRESULT hr = DispInvoke(static_cast<_UpdateCheck*>(this), m_interfaceInfo.Get(), id, flags,
                          params, result, excepInfo, argError);
  // A member that failed with its own error reaches a late-bound caller as an
  // exception: the result code and the texts in EXCEPINFO.
  if (FAILED(hr) && hr != DISP_E_EXCEPTION && HRESULT_FACILITY(hr) != FACILITY_DISPATCH &&
      excepInfo) {
    ComPtr<IErrorInfo> pending;
    if (GetErrorInfo(0, pending.Put()) == S_OK && pending) {
      FillExcepInfo(hr, *pending.Get(), *excepInfo);
      hr = DISP_E_EXCEPTION;
    }
  }
  return hr;
}

HRESULT UpdateCheckObject::IsActive(VARIANT_BOOL* bIsActive) {
  if (!bIsActive) return E_POINTER;
  return CallMember(IID__UpdateCheck,
                    [&] { *bIsActive = ToVariantBool(m_cUpdateCheck->IsActive()); });
}

HRESULT UpdateCheckObject::StartCheck(BSTR strURL) {
  return CallMember(IID__UpdateCheck, [&] { m_cUpdateCheck->StartCheck(TextFromBstr(strURL)); });
}

HRESULT UpdateCheckObject::IsUpgradeAvailable(LONG lMajor, LONG lMinor, LONG lBuild,
                                              VARIANT_BOOL* bIsUpgradeAvailable) {
  if (!bIsUpgradeAvailable) return E_POINTER;
  return CallMember(IID__UpdateCheck, [&] {
    *bIsUpgradeAvailable =
        ToVariantBool(m_cUpdateCheck->IsUpgradeAvailable(lMajor, lMinor, lBuild));
  });
}

HRESULT UpdateCheckObject::get_Major(LONG* lMajor) {
  if (!lMajor) return E_POINTER;
  return CallMember(IID__UpdateCheck, [&] { *lMajor = m_cUpdateCheck->Major(); });
}

HRESULT UpdateCheckObject::get_Minor(LONG* lMinor) {
  if (!lMinor) return E_POINTER;
  return CallMember(IID__UpdateCheck, [&] { *lMinor = m_cUpdateCheck->Minor(); });
}

HRESULT UpdateCheckObject::get_Build(LONG* lBuild) {
  if (!lBuild) return E_POINTER;
  return CallMember(IID__UpdateCheck, [&] { *lBuild = m_cUpdateCheck->Build(); });
}

HRESULT UpdateCheckObject::get_UpdateURL(BSTR* strUpdateURL) {
  if (!strUpdateURL) return E_POINTER;
  *strUpdateURL = nullptr;
  return CallMember(IID__UpdateCheck,
                    [&] { *strUpdateURL = Bstr(m_cUpdateCheck->UpdateURL()).Detach(); });
}

HRESULT UpdateCheckObject::get_VersionHistory(BSTR* strVersionHistory) {
  if (!strVersionHistory) return E_POINTER;
  *strVersionHistory = nullptr;
  return CallMember(IID__UpdateCheck,
                    [&] { *strVersionHistory = Bstr(m_cUpdateCheck->VersionHistory()).Detach(); });
}

HRESULT UpdateCheckObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID__UpdateCheck) ? S_OK : S_FALSE;
}

HRESULT UpdateCheckObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto points = std::make_shared<std::vector<ComPtr<IConnectionPoint>>>();
    points->emplace_back(&m_connectionPoint);
    return ConnectionPointEnumerator::Create(std::move(points), 0, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UpdateCheckObject::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, DIID___UpdateCheck)) return CONNECT_E_NOCONNECTION;
  *out = &m_connectionPoint;
  m_connectionPoint.AddRef();
  return S_OK;
}

HRESULT UpdateCheckObject::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  m_classInfo.CopyTo(info);
  return S_OK;
}

HRESULT UpdateCheckObject::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = DIID___UpdateCheck;
  return S_OK;
}

}  // namespace qel::com
