// The server's holds (live objects, host locks, events on their way) and
// COM's count of them. COM suspends the class objects when its count reaches
// 0, and only a resumption lets creations in again; so the two counts change
// together, under one lock, and never disagree. Portable: `Process` is COM's
// count (server_lifetime.h), or a test's stand-in for it.
//
// `Process` answers AddRef and Release with the count after the change;
// Resume lets creations in again; LastHoldGone tells the main thread.
#pragma once

#include <mutex>
#include <utility>

namespace qel::com {

template <class Process>
class BasicServerLifetime {
 public:
  template <class... Args>
  explicit BasicServerLifetime(Args&&... args) noexcept : m_process(std::forward<Args>(args)...) {}
  BasicServerLifetime(const BasicServerLifetime&) = delete;
  BasicServerLifetime& operator=(const BasicServerLifetime&) = delete;

  // A new hold, unless the server has decided to end: false then.
  bool TryAddRef() noexcept {
    bool comeBack = false;
    {
      std::lock_guard lock(m_mutex);
      if (m_ending) return false;
      comeBack = Add();
    }
    // Outside the lock: every return from 0 is followed by its own
    // resumption, so one that lands after a later suspension leaves the
    // class objects let in at a count of 0, which the end decides on anyway.
    if (comeBack) m_process.Resume();
    return true;
  }
  // A hold taken while another is kept.
  void AddRef() noexcept {
    bool comeBack = false;
    {
      std::lock_guard lock(m_mutex);
      comeBack = Add();
    }
    if (comeBack) m_process.Resume();
  }
  void Release() noexcept {
    bool last = false;
    {
      std::lock_guard lock(m_mutex);
      --m_holds;
      m_process.Release();
      last = m_holds == 0;
    }
    if (last) m_process.LastHoldGone();
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
  // With m_mutex held. True if COM's count has come back from 0 while the
  // server is not ending: creations must be let in again.
  bool Add() noexcept {
    ++m_holds;
    return m_process.AddRef() == 1 && !m_ending;
  }

  Process m_process;
  mutable std::mutex m_mutex;
  long m_holds = 0;
  bool m_ending = false;
};

}  // namespace qel::com
