// The threads that UpdateCheck objects live on: single-threaded apartments
// whose message loops run the objects' calls, timers and events.
//
// Wine keeps a resource of every apartment that has ever existed in the
// process and stops serving altogether after about sixty, so threads are a
// bounded pool: a thread, once made, is kept for the server's life and hosts
// the next objects; a new one is made only when every thread has an object,
// and never more than kMaxThreads. Past that, a new object shares the thread
// with the fewest objects. Downloads run on threads of their own and events
// on couriers (event_couriers.h), so nothing on a shared thread waits for a
// host: the thread only runs calls, timers and completions.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "com/com_ptr.h"
#include "retrieval/check_limits.h"
#include "server/process/event_couriers.h"
#include "server/process/server_lifetime.h"

namespace qel {
class ThreadMailbox;
}

namespace qel::com {

class ObjectThreads {
 public:
  // Well under Wine's ceiling of apartments per process.
  static constexpr size_t kMaxThreads = 32;

  // What the pool asks of the system, replaceable so that tests can make it
  // fail; empty members take the system's own.
  struct Seams {
    // Runs first on every new thread; a failure ends the thread as if COM
    // had refused it.
    std::function<HRESULT()> threadStart;
    // Waits for an object to be made (CoWaitForMultipleHandles).
    std::function<HRESULT(HANDLE ready)> wait;
  };

  ObjectThreads(ServerLifetime& lifetime, EventCouriers& couriers, CheckLimits limits,
                Seams seams = {}) noexcept
      : m_lifetime(lifetime), m_couriers(couriers), m_limits(limits), m_seams(std::move(seams)) {}
  ObjectThreads(const ObjectThreads&) = delete;
  ObjectThreads& operator=(const ObjectThreads&) = delete;
  ~ObjectThreads() { JoinAll(); }

  // Makes a new object on a thread of the pool and hands back its interface
  // `iid`, usable from the calling apartment. Call from one thread only
  // (calls that arrive while it waits may nest). CO_E_SERVER_STOPPING, with
  // nothing made, once the server has decided to end.
  HRESULT CreateObject(REFIID iid, void** out) noexcept;

  // Ends every thread, once no object is left, and waits for them.
  void JoinAll() noexcept;

  struct Handoff;
  struct ObjectHold;
  struct Worker {
    enum class State {
      kStarting,  // the thread is on its way up
      kServing,   // its message loop runs
      kQuitting,  // asked to end
      kEnded,     // could not start, or has ended
    };
    std::thread thread;
    DWORD threadId = 0;
    // Set by the thread once it serves; it drains `jobs` when woken here.
    std::shared_ptr<ThreadMailbox> mailbox;
    std::deque<std::shared_ptr<Handoff>> jobs;  // objects to make, in order
    size_t objects = 0;                         // live, or on their way
    State state = State::kStarting;
    ComPtr<ITypeLib> library;  // touched on the thread only
  };

 private:
  // Joins and forgets threads that could not start. The creating thread
  // only, without m_mutex.
  void ReapEnded() noexcept;
  // All of these with m_mutex held.
  size_t Alive() const noexcept;
  Worker* LeastLoaded() noexcept;
  Worker* StartWorker(std::shared_ptr<Handoff> first) noexcept;
  bool Unqueue(Worker& worker, const Handoff& job) noexcept;

  void Run(Worker& worker) noexcept;
  void RunJobs(Worker& worker) noexcept;
  void MakeObject(Worker& worker, Handoff& job) noexcept;
  // An object of `worker` has gone, or was never made.
  void ObjectGone(Worker& worker) noexcept;

  ServerLifetime& m_lifetime;
  EventCouriers& m_couriers;
  const CheckLimits m_limits;
  const Seams m_seams;
  // Guards the workers' queues, counts and states, and the list.
  std::mutex m_mutex;
  std::list<std::unique_ptr<Worker>> m_workers;  // every thread that serves or did
};

}  // namespace qel::com
