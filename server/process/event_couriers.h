// The threads that carry UpdateCheckComplete to the hosts' sinks. An event
// call waits for the host's handler to return, however long that takes; made
// on an object's thread it would hold up every object of that thread. So
// each object's sinks are in a table that its thread shares with the
// couriers, threads of the process's multithreaded apartment, and every
// connection (one sink of one object) gets its calls in the order they were
// raised, from one courier at a time. One apartment, however many couriers,
// so Wine's ceiling on apartments is never approached.
//
// A host whose handler does not return holds one courier for each of its
// connections with a call under way; a courier is started whenever work has
// none free, so every other connection's calls go on. A host that turns a
// call away (its message filter refuses it while it is busy) gets the same
// call again after a pause, for as long as a check may take, without holding
// a courier meanwhile.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "com/com_ptr.h"
#include "server/process/server_lifetime.h"

namespace qel::com {

class EventCouriers {
 public:
  // One event's call to a sink, made on a courier.
  using Call = std::function<HRESULT(IDispatch& sink)>;
  class Sinks;

  // An idle courier ends after this long; the last one stays for the
  // server's life, and with it the apartment.
  static constexpr std::chrono::milliseconds kIdleLimit{1000};
  // A call turned away is made again after this pause, doubled at each
  // refusal up to the longest.
  static constexpr std::chrono::milliseconds kFirstPause{50};
  static constexpr std::chrono::milliseconds kLongestPause{1000};

  explicit EventCouriers(ServerLifetime& lifetime) noexcept : m_lifetime(lifetime) {}
  EventCouriers(const EventCouriers&) = delete;
  EventCouriers& operator=(const EventCouriers&) = delete;
  ~EventCouriers() { JoinAll(); }

  // A table for one object's sinks, whose calls a sink may turn away for
  // `refusalLimit` before it counts as gone. Null if no courier can run.
  std::unique_ptr<Sinks> NewSinks(std::chrono::milliseconds refusalLimit) noexcept;

  // Ends every courier, once nothing holds the server, and waits for them.
  void JoinAll() noexcept;

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;
  struct Courier {
    std::thread thread;
    bool ended = false;
  };

  // All of these with m_mutex held. An idle connection's turn: it holds the
  // server until it is idle again.
  void Schedule(const std::shared_ptr<Connection>& connection);
  // Starts couriers until every ready connection has a free one, and the
  // waiting ones one more to wake them.
  void Staff() noexcept;
  bool StartCourier() noexcept;

  void Run() noexcept;
  // Makes `connection`'s calls on this courier. True once it is idle again;
  // false while it waits out a refusal.
  bool Deliver(const std::shared_ptr<Connection>& connection) noexcept;
  // Joins couriers that have ended; outside m_mutex.
  void Reap() noexcept;

  ServerLifetime& m_lifetime;
  // Guards what follows, and every connection's queue and state.
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::shared_ptr<Connection>> m_ready;  // with calls and no courier
  std::multimap<Clock::time_point, std::shared_ptr<Connection>> m_waiting;  // refused
  std::list<Courier> m_couriers;
  size_t m_running = 0;  // couriers not ended
  size_t m_free = 0;     // couriers starting or waiting for work
  bool m_quitting = false;
};

// One object's connected sinks, the one table of them: the object's thread
// connects, disconnects, lists and raises; the couriers call the sinks and
// mark those whose host has gone, which the object's thread then drops.
// Every member is for the object's thread.
class EventCouriers::Sinks {
 public:
  Sinks(const Sinks&) = delete;
  Sinks& operator=(const Sinks&) = delete;
  ~Sinks() { Clear(); }

  // A new connection under `cookie`, not in use. The couriers' apartment gets
  // a proxy of its own, marshalled now, while the host waits for this call
  // and so answers what the marshalling asks of it.
  HRESULT Connect(DWORD cookie, ComPtr<IDispatch> sink) noexcept;
  // Calls raised before it still reach the sink; none after it.
  HRESULT Disconnect(DWORD cookie) noexcept;
  // The sinks connected now, as this thread holds them, by cookie.
  std::vector<std::pair<DWORD, ComPtr<IDispatch>>> Connected();
  // Queues `call` for every sink connected now.
  void Raise(Call call) noexcept;
  // Disconnects every sink.
  void Clear() noexcept;

 private:
  friend class EventCouriers;
  Sinks(EventCouriers& couriers, std::chrono::milliseconds refusalLimit) noexcept
      : m_couriers(couriers), m_refusalLimit(refusalLimit) {}
  // Lets go of the sinks found gone.
  void DropGone() noexcept;

  EventCouriers& m_couriers;
  const std::chrono::milliseconds m_refusalLimit;
  std::map<DWORD, std::shared_ptr<Connection>> m_connections;
};

}  // namespace qel::com
