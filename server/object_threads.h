// Every UpdateCheck lives on a thread of its own: a single-threaded apartment
// whose message loop runs the object's calls, timers and events until the
// object's last release. Objects therefore never hold each other up.
//
// A thread whose object has gone waits a little for the next object before it
// ends: Wine keeps resources of every apartment that has ever existed in the
// process, so a server that made a thread per object ran out after about a
// hundred objects. Reuse keeps the number of threads made near the peak
// number of objects alive at once.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "retrieval/check_limits.h"
#include "server/server_lifetime.h"

namespace qel::com {

class ObjectThreads {
 public:
  ObjectThreads(ServerLifetime& lifetime, CheckLimits limits) noexcept
      : m_lifetime(lifetime), m_limits(limits) {}
  ObjectThreads(const ObjectThreads&) = delete;
  ObjectThreads& operator=(const ObjectThreads&) = delete;
  ~ObjectThreads() { JoinAll(); }

  // Makes a new object on an idle thread, or a new thread, and hands back its
  // interface `iid`, usable from the calling apartment. Call from one thread
  // only.
  HRESULT CreateObject(REFIID iid, void** out) noexcept;

  // Ends every idle thread and waits for every object thread to end.
  void JoinAll() noexcept;

  // How long a thread without an object waits for the next one.
  static constexpr std::chrono::milliseconds kIdleWait{2000};

  struct Handoff;
  struct Worker {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    std::shared_ptr<Handoff> job;  // the next object to make; set while idle
    bool idle = false;             // waiting for a job
    bool ended = false;            // the thread has left its loop
    bool quit = false;             // asked to end
  };

 private:
  void JoinEnded() noexcept;

  ServerLifetime& m_lifetime;
  const CheckLimits m_limits;
  std::list<std::unique_ptr<Worker>> m_workers;
};

}  // namespace qel::com
