// Free routines around the platform's thread timers, and the thread's
// dispatcher slot.
#pragma once

#include <cstdint>
#include <memory>
#include <typeinfo>

#include <windows.h>

#include "trigger/thread_part.h"

namespace qel {

class clsTriggerSync;
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

// The calling thread's part of type T, kept in the same slot and made on
// first use: the per-thread state of a layer above (the download threads).
// The parts end when the slot does, after the mailbox is closed, in the order
// they were first asked for; natively EndThread ends them sooner, alone.
std::shared_ptr<ThreadPart> PartOfType(const std::type_info& type,
                                       std::shared_ptr<ThreadPart> (*make)());
template <class T>
std::shared_ptr<T> Part() {
  return std::static_pointer_cast<T>(
      PartOfType(typeid(T), []() -> std::shared_ptr<ThreadPart> { return std::make_shared<T>(); }));
}
// Called by a thread as it ends, outside any loader lock: its parts end here
// (the download threads that are done are joined; none whose download still
// runs is waited for). On Windows the whole slot ends here: mailbox,
// dispatcher and parts.
void EndThread() noexcept;

// Makes the calling thread's next `count` timer requests fail as a refusal by
// the platform does. For tests: the platform refuses only under exhaustion.
void RefuseTimersForTesting(int count);

}  // namespace modTimer
}  // namespace qel
