// The server process's reasons to keep running: live objects and host locks.
// When the last one goes, the main thread's message loop is told to end.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <atomic>

namespace qel::com {

class ServerLifetime {
 public:
  explicit ServerLifetime(DWORD mainThreadId) noexcept : m_mainThreadId(mainThreadId) {}

  void AddRef() noexcept {
    ++m_holds;
    CoAddRefServerProcess();
  }
  void Release() noexcept {
    --m_holds;
    // COM suspends the class objects itself when the count reaches 0, so no
    // new object can arrive while the process winds down.
    if (CoReleaseServerProcess() == 0) PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
  }
  // Whether an object or a lock holds the server now.
  bool Held() const noexcept { return m_holds > 0; }

 private:
  const DWORD m_mainThreadId;
  std::atomic<long> m_holds{0};
};

}  // namespace qel::com
