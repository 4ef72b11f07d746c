#include "server/process/event_couriers.h"

#include <objbase.h>

#include <utility>

namespace qel::com {

EventCouriers::Route::~Route() {
  // The couriers empty a route's sinks before its object lets go of it; what
  // is left here was never handed to a courier.
  m_sinks.clear();
}

std::shared_ptr<EventCouriers::Route> EventCouriers::NewRoute() noexcept {
  try {
    return std::make_shared<Route>();
  } catch (...) {
    return nullptr;
  }
}

bool EventCouriers::Queue(const std::shared_ptr<Route>& route, Job job) noexcept {
  if (!route) return false;
  Reap();
  std::unique_lock lock(m_mutex);
  if (m_quitting) return false;
  Courier* started = nullptr;
  try {
    route->m_jobs.push_back(std::move(job));
  } catch (...) {
    return false;
  }
  if (!route->m_scheduled) {
    try {
      m_ready.push_back(route);
    } catch (...) {
      route->m_jobs.pop_back();
      return false;
    }
    route->m_scheduled = true;
    m_lifetime.AddRef();
    if (m_idle == 0 && m_running < kMaxCouriers) {
      try {
        Courier& courier = m_couriers.emplace_back();
        try {
          courier.thread = std::thread([this, &courier] {
            Run();
            std::lock_guard ended(m_mutex);
            courier.ended = true;
          });
          ++m_running;
          started = &courier;
        } catch (...) {
          m_couriers.pop_back();
        }
      } catch (...) {
      }
      if (!started && m_running == 0) {
        // Nothing would ever run the route.
        m_ready.pop_back();
        route->m_scheduled = false;
        route->m_jobs.pop_back();
        lock.unlock();
        m_lifetime.Release();
        return false;
      }
    }
  }
  lock.unlock();
  if (!started) m_wake.notify_one();
  return true;
}

std::vector<DWORD> EventCouriers::TakeGone(Route& route) noexcept {
  std::lock_guard lock(m_mutex);
  return std::exchange(route.m_gone, {});
}

void EventCouriers::Run() noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::unique_lock lock(m_mutex);
  for (;;) {
    ++m_idle;
    const bool woken =
        m_wake.wait_for(lock, kIdleLimit, [this] { return m_quitting || !m_ready.empty(); });
    --m_idle;
    if (!m_ready.empty()) {
      std::shared_ptr<Route> route = std::move(m_ready.front());
      m_ready.pop_front();
      lock.unlock();
      RunRoute(*route);
      // A route that goes here lets go of its proxies on this thread, before
      // the server may learn that nothing holds it.
      route.reset();
      m_lifetime.Release();
      lock.lock();
      continue;
    }
    if (m_quitting || (!woken && m_running > 1)) break;
  }
  --m_running;
  lock.unlock();
  if (SUCCEEDED(init)) CoUninitialize();
}

void EventCouriers::RunRoute(Route& route) noexcept {
  for (;;) {
    Job job;
    {
      std::lock_guard lock(m_mutex);
      if (route.m_jobs.empty()) {
        route.m_scheduled = false;
        break;
      }
      job = std::move(route.m_jobs.front());
      route.m_jobs.pop_front();
    }
    try {
      job(route.m_sinks, [this, &route](DWORD cookie) {
        std::lock_guard lock(m_mutex);
        route.m_gone.push_back(cookie);
      });
    } catch (...) {
    }
  }
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

}  // namespace qel::com
