#include "trigger/message_loop.h"

#include <windows.h>

#include <algorithm>

namespace qel {

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours to consume: leave it for the thread's outer loop.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return done();
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (done()) return true;
    }
    if (done()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::max<long long>(left, 1)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void PumpMessagesFor(std::chrono::milliseconds duration) {
  PumpMessagesUntil([] { return false; }, duration);
}

}  // namespace qel
