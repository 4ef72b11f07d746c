// The connection point through which UpdateCheck raises UpdateCheckComplete to
// its hosts' sinks. It lives on the object's thread; its table of sinks is
// shared with the couriers (server/process/event_couriers.h), which make the
// calls to each sink in the order things happened here, so that no handler
// holds up the object's thread.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <chrono>
#include <cstdint>
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

  // Takes a table of `couriers` for this object's sinks; a sink may turn
  // calls away for `refusalLimit` before it counts as gone.
  HRESULT Initialize(EventCouriers& couriers, std::chrono::milliseconds refusalLimit) noexcept;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return m_container.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_container.Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Hands UpdateCheckComplete over for every sink connected now, and returns.
  // A sink that fails is passed over; one whose host has gone away, or that
  // turns the call away for longer than the limit, is disconnected. Nothing
  // a sink does comes back to the caller.
  void Fire(int32_t lErrorNumber, const std::u16string& strErrorDescription) noexcept;

  // Lets go of every sink.
  void Clear() noexcept;

 private:
  IConnectionPointContainer& m_container;
  std::unique_ptr<EventCouriers::Sinks> m_sinks;
  DWORD m_lastCookie = 0;
};

}  // namespace qel::com
