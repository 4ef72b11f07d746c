#include "server/process/event_couriers.h"

#include <objbase.h>
#include <olectl.h>

#include <algorithm>
#include <new>
#include <optional>

namespace qel::com {
namespace {

// Failures that mean the sink's process or apartment is gone for good, as
// opposed to a sink that is there but fails the call.
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

// The host's message filter turned the call away while it is busy, and
// expects it again later.
bool HostIsBusy(HRESULT hr) {
  return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

}  // namespace

struct EventCouriers::Connection {
  enum class State {
    kIdle,
    kReady,    // on m_ready
    kRunning,  // with a courier
    kWaiting,  // on m_waiting, after a refusal
  };

  explicit Connection(std::chrono::milliseconds limit) noexcept : refusalLimit(limit) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    // Only if no courier ever ran it.
    if (marshalled) {
      CoReleaseMarshalData(marshalled);
      marshalled->Release();
    }
  }

  const std::chrono::milliseconds refusalLimit;
  // The object's thread only.
  ComPtr<IDispatch> objectSide;
  // The courier that runs the connection only: the sink marshalled for the
  // couriers' apartment, until a courier makes its proxy from it.
  IStream* marshalled = nullptr;
  ComPtr<IDispatch> courierSide;
  // Guarded by the couriers' mutex.
  std::deque<std::shared_ptr<const Call>> calls;
  State state = State::kIdle;
  bool connected = true;  // until the object's thread lets go of it
  bool gone = false;      // its host has gone, or refused for too long
  // While the first call is refused: the last moment to call it again, and
  // the next pause.
  std::optional<Clock::time_point> refusedUntil;
  std::chrono::milliseconds pause{};
};

std::unique_ptr<EventCouriers::Sinks> EventCouriers::NewSinks(
    std::chrono::milliseconds refusalLimit) noexcept {
  std::unique_ptr<Sinks> sinks(new (std::nothrow) Sinks(*this, refusalLimit));
  if (!sinks) return nullptr;
  Reap();
  std::lock_guard lock(m_mutex);
  // From the first courier on, one always runs: queued work is never stuck.
  if (m_quitting || (m_running == 0 && !StartCourier())) return nullptr;
  return sinks;
}

void EventCouriers::Schedule(const std::shared_ptr<Connection>& connection) {
  m_ready.push_back(connection);
  connection->state = Connection::State::kReady;
  m_lifetime.AddRef();
}

void EventCouriers::Staff() noexcept {
  const size_t wanted = m_ready.size() + (m_waiting.empty() ? 0 : 1);
  while (m_free < wanted && StartCourier()) {
  }
}

bool EventCouriers::StartCourier() noexcept {
  try {
    Courier& courier = m_couriers.emplace_back();
    try {
      courier.thread = std::thread([this, &courier] {
        Run();
        std::lock_guard ended(m_mutex);
        courier.ended = true;
      });
    } catch (...) {
      m_couriers.pop_back();
      return false;
    }
  } catch (...) {
    return false;
  }
  ++m_running;
  ++m_free;
  return true;
}

void EventCouriers::Run() noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::unique_lock lock(m_mutex);
  auto idleSince = Clock::now();
  for (;;) {
    const auto now = Clock::now();
    std::shared_ptr<Connection> connection;
    if (!m_waiting.empty() && m_waiting.begin()->first <= now) {
      connection = std::move(m_waiting.begin()->second);
      m_waiting.erase(m_waiting.begin());
    } else if (!m_ready.empty()) {
      connection = std::move(m_ready.front());
      m_ready.pop_front();
    }
    if (connection) {
      connection->state = Connection::State::kRunning;
      --m_free;
      Staff();
      lock.unlock();
      const bool idle = Deliver(connection);
      // A connection let go of here lets go of its proxy on this thread,
      // before the server may learn that nothing holds it.
      connection.reset();
      if (idle) m_lifetime.Release();
      lock.lock();
      ++m_free;
      idleSince = Clock::now();
      continue;
    }
    if (m_quitting) break;
    // The last courier stays, and the last free one while connections wait.
    const bool stays = m_running == 1 || (m_free == 1 && !m_waiting.empty());
    if (!stays && now - idleSince >= kIdleLimit) break;
    std::optional<Clock::time_point> until;
    if (!stays) until = idleSince + kIdleLimit;
    if (!m_waiting.empty()) {
      const auto due = m_waiting.begin()->first;
      until = until ? std::min(*until, due) : due;
    }
    if (until) {
      m_wake.wait_until(lock, *until);
    } else {
      m_wake.wait(lock);
    }
  }
  --m_running;
  --m_free;
  lock.unlock();
  if (SUCCEEDED(init)) CoUninitialize();
}

bool EventCouriers::Deliver(const std::shared_ptr<Connection>& shared) noexcept {
  Connection& connection = *shared;
  if (IStream* const stream = std::exchange(connection.marshalled, nullptr)) {
    const HRESULT hr =
        CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, connection.courierSide.PutVoid());
    if (FAILED(hr)) connection.courierSide.Reset();
  }
  for (;;) {
    std::shared_ptr<const Call> call;
    {
      std::lock_guard lock(m_mutex);
      if (!connection.courierSide) connection.gone = true;
      if (connection.gone) connection.calls.clear();
      if (connection.calls.empty()) {
        if (connection.connected && !connection.gone) {
          connection.state = Connection::State::kIdle;
          return true;
        }
        break;
      }
      call = connection.calls.front();
    }
    HRESULT hr = E_UNEXPECTED;
    try {
      hr = (*call)(*connection.courierSide.Get());
    } catch (...) {
    }
    std::lock_guard lock(m_mutex);
    if (HostIsBusy(hr)) {
      const auto now = Clock::now();
      if (!connection.refusedUntil) {
        connection.refusedUntil = now + connection.refusalLimit;
        connection.pause = kFirstPause;
      }
      if (now < *connection.refusedUntil) {
        try {
          m_waiting.emplace(std::min(now + connection.pause, *connection.refusedUntil), shared);
          connection.state = Connection::State::kWaiting;
          connection.pause = std::min(connection.pause * 2, kLongestPause);
          // This courier, free again, wakes for it.
          return false;
        } catch (...) {
          // No room to wait: as if it had refused to the end.
        }
      }
      connection.gone = true;
    } else if (HostIsGone(hr)) {
      connection.gone = true;
    } else {
      connection.calls.pop_front();
      connection.refusedUntil.reset();
    }
  }
  // Let go of, or gone: its proxy goes now, on this apartment's thread.
  connection.courierSide.Reset();
  std::lock_guard lock(m_mutex);
  connection.state = Connection::State::kIdle;
  return true;
}

void EventCouriers::Reap() noexcept {
  std::list<Courier> ended;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_couriers.begin(); it != m_couriers.end();) {
      const auto next = std::next(it);
      if (it->ended) ended.splice(ended.end(), m_couriers, it);
      it = next;
    }
  }
  for (auto& courier : ended) {
    if (courier.thread.joinable()) courier.thread.join();
  }
}

void EventCouriers::JoinAll() noexcept {
  {
    std::lock_guard lock(m_mutex);
    m_quitting = true;
  }
  m_wake.notify_all();
  std::list<Courier> all;
  {
    std::lock_guard lock(m_mutex);
    all.swap(m_couriers);
  }
  for (auto& courier : all) {
    if (courier.thread.joinable()) courier.thread.join();
  }
}

HRESULT EventCouriers::Sinks::Connect(DWORD cookie, ComPtr<IDispatch> sink) noexcept {
  DropGone();
  std::shared_ptr<Connection> connection;
  try {
    connection = std::make_shared<Connection>(m_refusalLimit);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, sink.Get(),
                                                   &connection->marshalled))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  connection->objectSide = std::move(sink);
  m_couriers.Reap();
  try {
    const auto placed = m_connections.emplace(cookie, connection);
    try {
      std::lock_guard lock(m_couriers.m_mutex);
      // A courier makes its proxy at once.
      m_couriers.Schedule(connection);
      m_couriers.Staff();
    } catch (...) {
      m_connections.erase(placed.first);
      throw;
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  m_couriers.m_wake.notify_all();
  return S_OK;
}

HRESULT EventCouriers::Sinks::Disconnect(DWORD cookie) noexcept {
  const auto found = m_connections.find(cookie);
  if (found == m_connections.end()) return CONNECT_E_NOCONNECTION;
  const std::shared_ptr<Connection> connection = found->second;
  m_couriers.Reap();
  {
    std::lock_guard lock(m_couriers.m_mutex);
    // An idle connection still has a proxy for a courier to let go of.
    if (connection->state == Connection::State::kIdle && !connection->gone) {
      try {
        m_couriers.Schedule(connection);
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      m_couriers.Staff();
    }
    connection->connected = false;
  }
  m_couriers.m_wake.notify_all();
  m_connections.erase(found);
  // Released after it has left the table: its release may call back into
  // this object.
  connection->objectSide.Reset();
  return S_OK;
}

std::vector<std::pair<DWORD, ComPtr<IDispatch>>> EventCouriers::Sinks::Connected() {
  DropGone();
  std::vector<std::pair<DWORD, ComPtr<IDispatch>>> connected;
  for (const auto& [cookie, connection] : m_connections) {
    connected.emplace_back(cookie, connection->objectSide);
  }
  return connected;
}

void EventCouriers::Sinks::Raise(Call call) noexcept {
  DropGone();
  if (m_connections.empty()) return;
  m_couriers.Reap();
  try {
    const auto shared = std::make_shared<const Call>(std::move(call));
    std::lock_guard lock(m_couriers.m_mutex);
    for (const auto& [cookie, connection] : m_connections) {
      if (connection->gone) continue;
      connection->calls.push_back(shared);
      if (connection->state != Connection::State::kIdle) continue;
      try {
        m_couriers.Schedule(connection);
      } catch (...) {
        connection->calls.pop_back();
      }
    }
    m_couriers.Staff();
  } catch (...) {
    // For want of memory the event is lost for the sinks not yet reached,
    // which is all a sink could have done to it anyway.
  }
  m_couriers.m_wake.notify_all();
}

void EventCouriers::Sinks::Clear() noexcept {
  while (!m_connections.empty()) {
    // Only for want of memory: its courier's proxy then goes with the table.
    if (FAILED(Disconnect(m_connections.begin()->first))) {
      auto connection = std::move(m_connections.begin()->second);
      m_connections.erase(m_connections.begin());
    }
  }
}

void EventCouriers::Sinks::DropGone() noexcept {
  std::vector<std::shared_ptr<Connection>> gone;
  {
    std::lock_guard lock(m_couriers.m_mutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
      if (it->second->gone) {
        try {
          gone.push_back(std::move(it->second));
        } catch (...) {
          ++it;
          continue;
        }
        it = m_connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Released outside the couriers' lock: a release calls out of this thread.
  gone.clear();
}

}  // namespace qel::com
