#include "server/object/connection_point.h"

#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <memory>
#include <utility>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/bstr.h"
#include "com/excep_info.h"
#include "server/object/dispids.h"
#include "server/object/enumerator.h"

namespace qel::com {
namespace {

struct Connection {
  ComPtr<IUnknown> sink;
  DWORD cookie;
};

CONNECTDATA ToConnectData(const Connection& connection) {
  connection.sink->AddRef();
  return CONNECTDATA{connection.sink.Get(), connection.cookie};
}

using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA, Connection, &ToConnectData>;

// The event's arguments in dispatch order: last argument first.
class EventArguments {
 public:
  EventArguments(int32_t lErrorNumber, const std::u16string& strErrorDescription) {
    for (auto& arg : m_args) VariantInit(&arg);
    m_args[0].vt = VT_BSTR;
    m_args[0].bstrVal = Bstr(strErrorDescription).Detach();
    m_args[1].vt = VT_I4;
    m_args[1].lVal = lErrorNumber;
  }
  EventArguments(const EventArguments&) = delete;
  EventArguments& operator=(const EventArguments&) = delete;
  ~EventArguments() {
    for (auto& arg : m_args) VariantClear(&arg);
  }
  DISPPARAMS Params() noexcept { return DISPPARAMS{m_args, nullptr, 2, 0}; }

 private:
  VARIANTARG m_args[2];
};

}  // namespace

HRESULT EventConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = DIID___UpdateCheck;
  return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = &m_container;
  m_container.AddRef();
  return S_OK;
}

HRESULT EventConnectionPoint::Initialize(EventCouriers& couriers,
                                         std::chrono::milliseconds refusalLimit) noexcept {
  m_sinks = couriers.NewSinks(refusalLimit);
  return m_sinks ? S_OK : E_OUTOFMEMORY;
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (!m_sinks) return E_UNEXPECTED;
  // Cookies are never handed out twice, so a stale one can never break
  // somebody else's connection.
  if (m_lastCookie == MAXDWORD) return CONNECT_E_ADVISELIMIT;
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(DIID___UpdateCheck, dispatch.PutVoid())) &&
      FAILED(sink->QueryInterface(IID_IDispatch, dispatch.PutVoid()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  const DWORD next = m_lastCookie + 1;
  const HRESULT hr = m_sinks->Connect(next, std::move(dispatch));
  if (FAILED(hr)) return hr;
  m_lastCookie = next;
  *cookie = next;
  return S_OK;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) {
  return m_sinks ? m_sinks->Disconnect(cookie) : CONNECT_E_NOCONNECTION;
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto connections = std::make_shared<std::vector<Connection>>();
    if (m_sinks) {
      for (const auto& [cookie, sink] : m_sinks->Connected()) {
        ComPtr<IUnknown> unknown;
        if (SUCCEEDED(sink.As(unknown))) connections->push_back({std::move(unknown), cookie});
      }
    }
    return ConnectionEnumerator::Create(std::move(connections), 0, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void EventConnectionPoint::Fire(int32_t lErrorNumber,
                                const std::u16string& strErrorDescription) noexcept {
  if (!m_sinks) return;
  try {
    m_sinks->Raise([lErrorNumber, text = strErrorDescription](IDispatch& sink) {
      EventArguments arguments(lErrorNumber, text);
      DISPPARAMS params = arguments.Params();
      ExcepInfo excepInfo;
      UINT argError = 0;
      VARIANT result;
      VariantInit(&result);
      const HRESULT hr = sink.Invoke(DISPID_UC_UPDATECHECKCOMPLETE, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_METHOD, &params, &result, excepInfo.Put(), &argError);
      VariantClear(&result);
      return hr;
    });
  } catch (...) {
    // Only the copy of the text can fail, for want of memory: the event is
    // then lost, which is all a sink could have done to it anyway.
  }
}

void EventConnectionPoint::Clear() noexcept {
  if (m_sinks) m_sinks->Clear();
}

}  // namespace qel::com
