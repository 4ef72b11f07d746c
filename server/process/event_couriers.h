// The threads that carry UpdateCheckComplete to the hosts' sinks. An event
// call waits for the host's handler to return, however long that takes; made
// on an object's thread it would hold up every object of that thread. So each
// object hands its events to a route of its own, and routes run on courier
// threads of the process's multithreaded apartment: one route at a time per
// courier, a new courier whenever none is free. One apartment, however many
// couriers, so Wine's ceiling on apartments is never approached.
//
// A host whose handler does not return holds its own object's route and one
// courier; every other object's events go on.
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
#include <vector>

#include "com/com_ptr.h"
#include "server/process/server_lifetime.h"

namespace qel::com {

class EventCouriers {
 public:
  // One route's sinks, as the couriers hold them: proxies of the courier
  // apartment, by connection cookie.
  using Sinks = std::map<DWORD, ComPtr<IDispatch>>;
  // Told the cookie of a sink whose host has gone, as soon as that is seen.
  using GoneSink = std::function<void(DWORD cookie)>;
  // Runs on a courier.
  using Job = std::function<void(Sinks& sinks, const GoneSink& gone)>;
  class Route;

  // Past this many couriers at once (each one held by a handler that has
  // not returned), routes wait for a courier to come free.
  static constexpr size_t kMaxCouriers = 128;
  // An idle courier ends after this long; the last one stays for the
  // server's life, and with it the apartment.
  static constexpr std::chrono::milliseconds kIdleLimit{1000};

  explicit EventCouriers(ServerLifetime& lifetime) noexcept : m_lifetime(lifetime) {}
  EventCouriers(const EventCouriers&) = delete;
  EventCouriers& operator=(const EventCouriers&) = delete;
  ~EventCouriers() { JoinAll(); }

  // A new route; null for want of memory.
  std::shared_ptr<Route> NewRoute() noexcept;
  // Any thread: `job` runs after every job queued on `route` before it. The
  // server is held until it has run. False, with nothing queued, if no
  // courier can take it.
  bool Queue(const std::shared_ptr<Route>& route, Job job) noexcept;
  // Any thread: the cookies of the route's sinks found gone since last asked.
  std::vector<DWORD> TakeGone(Route& route) noexcept;

  // Ends every courier, once nothing holds the server, and waits for them.
  void JoinAll() noexcept;

 private:
  struct Courier {
    std::thread thread;
    bool ended = false;
  };

  void Run() noexcept;
  void RunRoute(Route& route) noexcept;
  // Joins couriers that have ended; outside m_mutex.
  void Reap() noexcept;

  ServerLifetime& m_lifetime;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::shared_ptr<Route>> m_ready;  // routes with jobs and no courier
  std::list<Courier> m_couriers;
  size_t m_running = 0;  // couriers not ended
  size_t m_idle = 0;     // couriers waiting for a route
  bool m_quitting = false;
};

class EventCouriers::Route {
 public:
  ~Route();

 private:
  friend class EventCouriers;
  // Guarded by the couriers' mutex.
  std::deque<Job> m_jobs;
  bool m_scheduled = false;  // on m_ready, or with a courier
  std::vector<DWORD> m_gone;
  // Touched only by the courier that runs the route.
  Sinks m_sinks;
};

}  // namespace qel::com
