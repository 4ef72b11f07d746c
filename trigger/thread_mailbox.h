// Work handed to a thread from any other thread. The owning thread runs it
// from its message dispatch, as it runs timer callbacks, so that work done
// elsewhere (a download) ends on the thread whose objects it concerns.
//
// A message-only window carries the wake-up rather than a thread message:
// modal loops dispatch window messages, but drop thread messages.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <windows.h>

namespace qel {

class ThreadMailbox {
 public:
  using Work = std::function<void()>;

  // Made on the owning thread, whose dispatch passes the mailbox's messages
  // to `proc`; null if the platform refused the window.
  static std::shared_ptr<ThreadMailbox> Create(WNDPROC proc);
  ~ThreadMailbox();
  ThreadMailbox(const ThreadMailbox&) = delete;
  ThreadMailbox& operator=(const ThreadMailbox&) = delete;

  // Any thread. The work runs from the owning thread's own message loop,
  // never inside a modal loop that waits for a call the thread has made.
  // False, with the work dropped, once the mailbox is closed. Work must be
  // safe to destroy on any thread.
  bool Post(Work work);
  // The same, but the work runs as soon as the owning thread retrieves
  // messages at all, inside such a modal loop too (a sent message, which
  // COM's modal loop handles): for work that must not wait for that call.
  bool Send(Work work);

  // The owning thread only: runs the work that `message` (kWakeMessage or
  // kSentMessage) stands for, in order; what a piece of work throws is
  // dropped.
  void RunPosted(UINT message) noexcept;
  // The owning thread only, as it ends: drops what is left and refuses more.
  void Close() noexcept;

  static constexpr UINT kWakeMessage = WM_APP + 0x51;
  static constexpr UINT kSentMessage = WM_APP + 0x52;

 private:
  struct Queued {
    uint64_t ticket;
    Work work;
  };
  struct Lane {
    std::deque<Queued> work;
    bool signalled = false;  // a wake-up is on its way
  };

  ThreadMailbox() = default;
  bool Queue(Lane& lane, UINT message, Work work);

  std::mutex m_mutex;
  Lane m_posted;
  Lane m_sent;
  HWND m_hwnd = nullptr;
  bool m_bClosed = false;
  uint64_t m_lTickets = 0;
};

}  // namespace qel
