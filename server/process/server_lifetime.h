// The server process's reasons to keep running: live objects, host locks and
// events on their way. When the last one goes, the main thread is told; it
// decides there whether the server ends (see server_loop.h), so that an end
// and a new object cannot cross.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <mutex>

namespace qel::com {

class ServerLifetime {
 public:
  // Posted to the main thread when the last hold has gone.
  static constexpr UINT kLastHoldGone = WM_APP + 0x60;

  explicit ServerLifetime(DWORD mainThreadId) noexcept : m_mainThreadId(mainThreadId) {}

  // A new hold, unless the server has decided to end: false then.
  bool TryAddRef() noexcept {
    {
      std::lock_guard lock(m_mutex);
      if (m_ending) return false;
      ++m_holds;
    }
    CoAddRefServerProcess();
    return true;
  }
  // A hold taken while another is kept.
  void AddRef() noexcept {
    {
      std::lock_guard lock(m_mutex);
      ++m_holds;
    }
    CoAddRefServerProcess();
  }
  void Release() noexcept {
    bool last = false;
    {
      std::lock_guard lock(m_mutex);
      last = --m_holds == 0;
    }
    // COM may suspend the class objects when its count reaches 0; they are
    // resumed if the end is called off.
    CoReleaseServerProcess();
    if (last) PostThreadMessageW(m_mainThreadId, kLastHoldGone, 0, 0);
  }

  // Whether an object, a lock or an event holds the server now.
  bool Held() const noexcept {
    std::lock_guard lock(m_mutex);
    return m_holds > 0;
  }
  // Decides to end if nothing holds the server; from then on no hold is
  // taken. False if something holds it.
  bool TryEnd() noexcept {
    std::lock_guard lock(m_mutex);
    if (m_holds > 0) return false;
    m_ending = true;
    return true;
  }
  // Decides to end whatever holds the server.
  void End() noexcept {
    std::lock_guard lock(m_mutex);
    m_ending = true;
  }

 private:
  const DWORD m_mainThreadId;
  mutable std::mutex m_mutex;
  long m_holds = 0;
  bool m_ending = false;
};

}  // namespace qel::com
