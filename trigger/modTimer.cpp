#include "trigger/modTimer.h"

#include "retrieval/download_threads.h"
#include "trigger/clsTriggerSync.h"
#include "trigger/thread_mailbox.h"

namespace qel::modTimer {
namespace {

// The thread's dispatcher slot: empty until the thread's first trigger, then
// kept for the thread's life. The thread's mailbox and download threads live
// beside it and are closed when the thread ends.
struct ThreadTimerSlot {
  std::shared_ptr<clsTriggerSync> m_cThreadSync;
  std::shared_ptr<ThreadMailbox> m_cMailbox;
  std::shared_ptr<DownloadThreads> m_cDownloads;
  int refusals = 0;

  ThreadTimerSlot() = default;
  ThreadTimerSlot(const ThreadTimerSlot&) = delete;
  ThreadTimerSlot& operator=(const ThreadTimerSlot&) = delete;
  ~ThreadTimerSlot() {
    if (m_cMailbox) m_cMailbox->Close();
      // Finished download threads are joined, so that none is still ending when
      // the process does. Not on Windows: this runs under the loader lock there,
      // which a thread's own end needs, so the join would never return; they
      // are told to end instead.
#ifdef _WIN32
    constexpr bool kJoin = false;
#else
    constexpr bool kJoin = true;
#endif
    if (m_cDownloads) m_cDownloads->Close(kJoin);
  }
};
thread_local ThreadTimerSlot t_slot;

}  // namespace

int32_t StartTimer(int32_t lDelay) {
  if (lDelay <= 0) return 0;
  if (t_slot.refusals > 0) {
    --t_slot.refusals;
    return 0;
  }
  return static_cast<int32_t>(
      SetTimer(nullptr, 0, static_cast<UINT>(lDelay), &modTimer::TimerProc));
}

void StopTimer(int32_t lTimerID) {
  KillTimer(nullptr, static_cast<UINT_PTR>(static_cast<uint32_t>(lTimerID)));
}

std::shared_ptr<clsTriggerSync> TriggerSync() {
  if (!t_slot.m_cThreadSync) t_slot.m_cThreadSync = clsTriggerSync::Create();
  return t_slot.m_cThreadSync;
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
  // Called from the platform's message dispatch: nothing may escape into it.
  // The tick's timer is already stopped, so dropping the error loses no tick.
  try {
    if (const auto sync = t_slot.m_cThreadSync) {
      sync->FireTimer(static_cast<int32_t>(idEvent));
    }
  } catch (...) {
  }
}

std::shared_ptr<ThreadMailbox> Mailbox() {
  if (!t_slot.m_cMailbox) t_slot.m_cMailbox = ThreadMailbox::Create(&modTimer::MailboxProc);
  return t_slot.m_cMailbox;
}

LRESULT CALLBACK MailboxProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg != ThreadMailbox::kWakeMessage && uMsg != ThreadMailbox::kSentMessage) {
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
  }
  // Work reaches only its own thread's mailbox; RunPosted lets nothing escape.
  if (const auto mailbox = t_slot.m_cMailbox) mailbox->RunPosted(uMsg);
  return 0;
}

std::shared_ptr<DownloadThreads> Downloads() {
  if (!t_slot.m_cDownloads) t_slot.m_cDownloads = std::make_shared<DownloadThreads>();
  return t_slot.m_cDownloads;
}

void RefuseTimersForTesting(int count) { t_slot.refusals = count; }

}  // namespace qel::modTimer
