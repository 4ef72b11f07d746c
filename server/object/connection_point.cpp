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

// Failures that mean the sink's process or apartment is gone for good, as
// opposed to a sink that is there but refuses or fails the call.
bool HostIsGone(HRESULT hr) {
  switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_CONNECTION_TERMINATED:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
      return true;
    default:
      return false;
  }
}

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

HRESULT EventConnectionPoint::Initialize(EventCouriers& couriers) noexcept {
  m_couriers = &couriers;
  m_route = couriers.NewRoute();
  return m_route ? S_OK : E_OUTOFMEMORY;
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (!m_route) return E_UNEXPECTED;
  DropGone();
  // Cookies are never handed out twice, so a stale one can never break
  // somebody else's connection.
  if (m_lastCookie == MAXDWORD) return CONNECT_E_ADVISELIMIT;
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(DIID___UpdateCheck, dispatch.PutVoid())) &&
      FAILED(sink->QueryInterface(IID_IDispatch, dispatch.PutVoid()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  // The couriers' apartment gets a proxy of its own, made now, while the
  // host waits for this call and so answers what the marshalling asks of it.
  IStream* stream = nullptr;
  HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, dispatch.Get(), &stream);
  if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
  const DWORD next = m_lastCookie + 1;
  try {
    m_sinks.emplace(next, std::move(dispatch));
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr) && !m_couriers->Queue(m_route, [next, stream](auto& sinks, auto&) {
        ComPtr<IDispatch> courierSink;
        if (SUCCEEDED(
                CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, courierSink.PutVoid()))) {
          sinks.emplace(next, std::move(courierSink));
        }
      })) {
    m_sinks.erase(next);
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    CoReleaseMarshalData(stream);
    stream->Release();
    return hr;
  }
  m_lastCookie = next;
  *cookie = next;
  return S_OK;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) {
  const auto found = m_sinks.find(cookie);
  if (found == m_sinks.end()) return CONNECT_E_NOCONNECTION;
  // Events raised before this call still reach the sink; none after it.
  if (!m_couriers->Queue(m_route, [cookie](auto& sinks, auto&) { sinks.erase(cookie); })) {
    return E_OUTOFMEMORY;
  }
  // The sink is released after it has left the table: its release may call
  // back into this object.
  ComPtr<IDispatch> sink = std::move(found->second);
  m_sinks.erase(found);
  return S_OK;
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  DropGone();
  try {
    auto connections = std::make_shared<std::vector<Connection>>();
    for (const auto& [cookie, sink] : m_sinks) {
      ComPtr<IUnknown> unknown;
      if (SUCCEEDED(sink.As(unknown))) connections->push_back({std::move(unknown), cookie});
    }
    return ConnectionEnumerator::Create(std::move(connections), 0, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void EventConnectionPoint::Fire(int32_t lErrorNumber,
                                const std::u16string& strErrorDescription) noexcept {
  DropGone();
  if (m_sinks.empty()) return;
  try {
    m_couriers->Queue(m_route, [lErrorNumber, text = strErrorDescription](auto& sinks, auto& gone) {
      EventArguments arguments(lErrorNumber, text);
      std::vector<DWORD> lost;
      for (const auto& [cookie, sink] : sinks) {
        DISPPARAMS params = arguments.Params();
        ExcepInfo excepInfo;
        UINT argError = 0;
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr =
            sink->Invoke(DISPID_UC_UPDATECHECKCOMPLETE, IID_NULL, LOCALE_USER_DEFAULT,
                         DISPATCH_METHOD, &params, &result, excepInfo.Put(), &argError);
        VariantClear(&result);
        if (HostIsGone(hr)) {
          gone(cookie);
          lost.push_back(cookie);
        }
      }
      for (const DWORD cookie : lost) sinks.erase(cookie);
    });
  } catch (...) {
    // Only the copy of the text can fail, for want of memory: the event is
    // then lost, which is all a sink could have done to it anyway.
  }
}

void EventConnectionPoint::DropGone() noexcept {
  if (!m_route) return;
  for (const DWORD cookie : m_couriers->TakeGone(*m_route)) {
    const auto found = m_sinks.find(cookie);
    if (found == m_sinks.end()) continue;
    ComPtr<IDispatch> sink = std::move(found->second);
    m_sinks.erase(found);
  }
}

void EventConnectionPoint::Clear() noexcept {
  if (m_route) m_couriers->Queue(m_route, [](auto& sinks, auto&) { sinks.clear(); });
  auto sinks = std::move(m_sinks);
  m_sinks.clear();
}

}  // namespace qel::com
