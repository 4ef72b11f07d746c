// A serving process that no host takes up ends by itself: one started by
// hand with -Embedding, or one of the several that Wine launches when hosts
// start the server at the same moment, which all connect to one of them.
// A server whose last hold goes ends at once; one that nothing holds at a
// tick of this timer ends then (server_loop.h).
#pragma once

#include <windows.h>

#include <chrono>

namespace qel::com {

class IdleExit {
 public:
  static constexpr std::chrono::milliseconds kIdleLimit{10'000};

  // Arms a timer of the calling thread, whose message loop hands every
  // message to Ticked.
  explicit IdleExit(std::chrono::milliseconds limit = kIdleLimit) noexcept
      : m_timer(SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), nullptr)) {}
  IdleExit(const IdleExit&) = delete;
  IdleExit& operator=(const IdleExit&) = delete;
  ~IdleExit() {
    if (m_timer) KillTimer(nullptr, m_timer);
  }

  // True when `msg` is this timer's tick.
  bool Ticked(const MSG& msg) const noexcept {
    return m_timer && msg.message == WM_TIMER && !msg.hwnd && msg.wParam == m_timer;
  }

 private:
  UINT_PTR m_timer;
};

}  // namespace qel::com
