// The threads that UpdateCheck objects live on: single-threaded apartments
// whose message loops run the objects' calls, timers and events.
//
// Wine keeps a resource of every apartment that has ever existed in the
// process and stops serving altogether after about sixty, so threads are a
// bounded pool: a thread, once made, is kept for the server's life and hosts
// the next objects; a new one is made only when every thread has an object,
// and never more than kMaxThreads. Past that, a new object shares the thread
// with the fewest objects. Downloads run on threads of their own, so a shared
// thread holds up little but the delivery of its objects' events.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "retrieval/check_limits.h"
#include "server/com_ptr.h"
#include "server/server_lifetime.h"

namespace qel {
class ThreadMailbox;
}

namespace qel::com {

class ObjectThreads {
 public:
  // Well under Wine's ceiling of apartments per process.
  static constexpr size_t kMaxThreads = 32;

  ObjectThreads(ServerLifetime& lifetime, CheckLimits limits) noexcept
      : m_lifetime(lifetime), m_limits(limits) {}
  ObjectThreads(const ObjectThreads&) = delete;
  ObjectThreads& operator=(const ObjectThreads&) = delete;
  ~ObjectThreads() { JoinAll(); }

  // Makes a new object on a thread of the pool and hands back its interface
  // `iid`, usable from the calling apartment. Call from one thread only
  // (calls that arrive while it waits may nest).
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
  // All of these with m_mutex held.
  Worker* LeastLoaded() noexcept;
  Worker* StartWorker(std::shared_ptr<Handoff> first) noexcept;
  bool Unqueue(Worker& worker, const Handoff& job) noexcept;

  void Run(Worker& worker) noexcept;
  void RunJobs(Worker& worker) noexcept;
  void MakeObject(Worker& worker, Handoff& job) noexcept;
  // An object of `worker` has gone, or was never made.
  void ObjectGone(Worker& worker) noexcept;

  ServerLifetime& m_lifetime;
  const CheckLimits m_limits;
  // Guards the workers' queues, counts and states, and the list.
  std::mutex m_mutex;
  std::list<std::unique_ptr<Worker>> m_workers;  // every thread ever made
};

}  // namespace qel::com
