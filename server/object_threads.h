// Every UpdateCheck lives on a thread of its own: a single-threaded apartment
// whose message loop runs the object's calls, timers and events until the
// object's last release. Objects therefore never hold each other up.
#pragma once

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>
#include <thread>

#include "server/server_lifetime.h"

namespace qel::com {

class ObjectThreads {
 public:
  explicit ObjectThreads(ServerLifetime& lifetime) noexcept : m_lifetime(lifetime) {}
  ObjectThreads(const ObjectThreads&) = delete;
  ObjectThreads& operator=(const ObjectThreads&) = delete;
  ~ObjectThreads() { JoinAll(); }

  // Starts a thread with a new object and hands back its interface `iid`,
  // usable from the calling apartment. Call from one thread only.
  HRESULT CreateObject(REFIID iid, void** out) noexcept;

  // Waits for every object thread to end.
  void JoinAll() noexcept;

 private:
  struct Thread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  void JoinFinished() noexcept;

  ServerLifetime& m_lifetime;
  std::list<Thread> m_threads;
};

}  // namespace qel::com
