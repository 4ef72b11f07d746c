// The connection point through which UpdateCheck raises UpdateCheckComplete to
// its hosts' sinks. It lives on the object's thread; the calls to the sinks
// are made by the couriers (server/process/event_couriers.h), in the order
// things happened here, so that no handler holds up the object's thread.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "com/com_ptr.h"
#include "server/process/event_couriers.h"

namespace qel::com {

class EventConnectionPoint final : public IConnectionPoint {
 public:
  // The connection point lives inside `container`: its references are the
  // container's, so neither can outlive the other.
  explicit EventConnectionPoint(IConnectionPointContainer& container) noexcept
      : m_container(container) {}
  EventConnectionPoint(const EventConnectionPoint&) = delete;
  EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

  // Takes a route of `couriers` for this object's events.
  HRESULT Initialize(EventCouriers& couriers) noexcept;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return m_container.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_container.Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Hands UpdateCheckComplete over for every sink connected now, and returns.
  // A sink that fails is passed over; one whose host has gone away is
  // disconnected. Nothing a sink does comes back to the caller.
  void Fire(int32_t lErrorNumber, const std::u16string& strErrorDescription) noexcept;

  // Lets go of every sink.
  void Clear() noexcept;

 private:
  // Disconnects the sinks that the couriers found gone.
  void DropGone() noexcept;

  IConnectionPointContainer& m_container;
  EventCouriers* m_couriers = nullptr;
  std::shared_ptr<EventCouriers::Route> m_route;
  // The sinks as this thread holds them, for enumeration and cookies.
  std::map<DWORD, ComPtr<IDispatch>> m_sinks;
  DWORD m_lastCookie = 0;
};

}  // namespace qel::com
