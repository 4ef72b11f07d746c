// Free routines around the platform's thread timers, and the thread's
// dispatcher slot.
#pragma once

#include <cstdint>
#include <memory>

#include <windows.h>

namespace qel {

class clsTriggerSync;
class DownloadThreads;
class ThreadMailbox;

namespace modTimer {

// Arms a thread timer; 0 when lDelay <= 0 or the platform refuses.
int32_t StartTimer(int32_t lDelay);
void StopTimer(int32_t lTimerID);
// The calling thread's dispatcher, created on first use.
std::shared_ptr<clsTriggerSync> TriggerSync();
void CALLBACK TimerProc(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

// The calling thread's mailbox, kept in the same slot and made on first use;
// null if the platform refused it. MailboxProc runs its posted work.
std::shared_ptr<ThreadMailbox> Mailbox();
LRESULT CALLBACK MailboxProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The calling thread's download threads, kept in the same slot and made on
// first use. They end with the thread.
std::shared_ptr<DownloadThreads> Downloads();
// Called by a thread as it ends, outside any loader lock: its download
// threads that are done are joined (none whose download still runs is waited
// for). On Windows the whole slot ends here: mailbox, dispatcher and download
// threads.
void EndThread() noexcept;

// Makes the calling thread's next `count` timer requests fail as a refusal by
// the platform does. For tests: the platform refuses only under exhaustion.
void RefuseTimersForTesting(int count);

}  // namespace modTimer
}  // namespace qel
