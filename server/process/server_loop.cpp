#include "server/process/server_loop.h"

#include <windows.h>

#include <objbase.h>

namespace qel::com {

void RunServerLoop(ServerLifetime& lifetime, std::chrono::milliseconds idleLimit) noexcept {
  const IdleExit idle(idleLimit);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const bool lastHoldGone = msg.message == ServerLifetime::kLastHoldGone && !msg.hwnd;
    if (lastHoldGone || idle.Ticked(msg)) {
      if (lifetime.TryEnd()) return;
      // Called off: a host took a new hold in time. COM may have suspended
      // the class object when its count reached 0.
      if (lastHoldGone) CoResumeClassObjects();
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
