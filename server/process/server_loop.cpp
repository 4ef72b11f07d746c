#include "server/process/server_loop.h"

#include <windows.h>

namespace qel::com {

void RunServerLoop(ServerLifetime& lifetime, std::chrono::milliseconds idleLimit) noexcept {
  const IdleExit idle(idleLimit);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const bool lastHoldGone = msg.message == ComServerProcess::kLastHoldGone && !msg.hwnd;
    if (lastHoldGone || idle.Ticked(msg)) {
      // Called off if a host took a new hold in time: that hold let
      // creations in again.
      if (lifetime.TryEnd()) return;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  lifetime.End();
}

void AnswerWhatIsQueued() noexcept {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace qel::com
