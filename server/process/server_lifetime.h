// The server process's reasons to keep running: live objects, host locks and
// events on their way, counted with COM's own count (server_holds.h). When
// the last one goes, the main thread is told; it decides there whether the
// server ends (see server_loop.h), so that an end and a new object cannot
// cross.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "server/process/server_holds.h"

namespace qel::com {

// COM's count of the server's holds.
class ComServerProcess {
 public:
  // Posted to the main thread when the last hold has gone.
  static constexpr UINT kLastHoldGone = WM_APP + 0x60;

  explicit ComServerProcess(DWORD mainThreadId) noexcept : m_mainThreadId(mainThreadId) {}

  ULONG AddRef() noexcept { return CoAddRefServerProcess(); }
  // At 0, COM suspends the class objects: a creation would start a new server.
  ULONG Release() noexcept { return CoReleaseServerProcess(); }
  void Resume() noexcept { CoResumeClassObjects(); }
  void LastHoldGone() noexcept { PostThreadMessageW(m_mainThreadId, kLastHoldGone, 0, 0); }

 private:
  const DWORD m_mainThreadId;
};

using ServerLifetime = BasicServerLifetime<ComServerProcess>;

}  // namespace qel::com
