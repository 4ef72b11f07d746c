#include "trigger/modTimer.h"

#include <typeindex>
#include <utility>
#include <vector>

#include "trigger/clsTriggerSync.h"
#include "trigger/thread_mailbox.h"

namespace qel::modTimer {
namespace {

// The thread's dispatcher slot: empty until the thread's first trigger, then
// kept for the thread's life. The thread's mailbox and the parts that the
// layers above keep here live beside it, and are closed when the thread ends:
// the mailbox, then the parts.
struct ThreadTimerSlot {
  struct KeptPart {
    std::type_index type;
    std::shared_ptr<ThreadPart> part;
  };

  std::shared_ptr<clsTriggerSync> m_cThreadSync;
  std::shared_ptr<ThreadMailbox> m_cMailbox;
  std::vector<KeptPart> m_parts;
  int refusals = 0;

  ThreadTimerSlot() = default;
  ThreadTimerSlot(const ThreadTimerSlot&) = delete;
  ThreadTimerSlot& operator=(const ThreadTimerSlot&) = delete;
  ~ThreadTimerSlot() {
    if (m_cMailbox) m_cMailbox->Close();
#ifdef _WIN32
    EndParts(ThreadPart::Ending::kEndThread);
#else
    EndParts(ThreadPart::Ending::kThreadExit);
#endif
  }

  void EndParts(ThreadPart::Ending ending) noexcept {
    for (const KeptPart& kept : m_parts) kept.part->End(ending);
  }
};

#ifdef _WIN32
// On Windows the slot is not a thread_local object with a destructor: with
// this toolchain (mingw-w64 10, posix threads) a std::thread's thread_local
// objects are made and destroyed again and again as it ends, one such
// destructor met reused storage and corrupted the heap, and a join there
// would wait for ever under the loader lock. A thread ends its slot itself
// with EndThread; one that does not leaves it.
thread_local ThreadTimerSlot* t_pSlot = nullptr;

ThreadTimerSlot& Slot() {
  if (t_pSlot == nullptr) t_pSlot = new ThreadTimerSlot();
  return *t_pSlot;
}
// For the platform's callbacks, which must not allocate: null if none.
ThreadTimerSlot* ExistingSlot() { return t_pSlot; }
#else
thread_local ThreadTimerSlot t_slot;

ThreadTimerSlot& Slot() { return t_slot; }
ThreadTimerSlot* ExistingSlot() { return &t_slot; }
#endif

}  // namespace

int32_t StartTimer(int32_t lDelay) {
  if (lDelay <= 0) return 0;
  ThreadTimerSlot& slot = Slot();
  if (slot.refusals > 0) {
    --slot.refusals;
    return 0;
  }
  return static_cast<int32_t>(
      SetTimer(nullptr, 0, static_cast<UINT>(lDelay), &modTimer::TimerProc));
}

void StopTimer(int32_t lTimerID) {
  KillTimer(nullptr, static_cast<UINT_PTR>(static_cast<uint32_t>(lTimerID)));
}

std::shared_ptr<clsTriggerSync> TriggerSync() {
  ThreadTimerSlot& slot = Slot();
  if (!slot.m_cThreadSync) slot.m_cThreadSync = clsTriggerSync::Create();
  return slot.m_cThreadSync;
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
  // Called from the platform's message dispatch: nothing may escape into it.
  // The tick's timer is already stopped, so dropping the error loses no tick.
  try {
    const ThreadTimerSlot* slot = ExistingSlot();
    if (const auto sync = slot != nullptr ? slot->m_cThreadSync : nullptr) {
      sync->FireTimer(static_cast<int32_t>(idEvent));
    }
  } catch (...) {
  }
}

std::shared_ptr<ThreadMailbox> Mailbox() {
  ThreadTimerSlot& slot = Slot();
  if (!slot.m_cMailbox) slot.m_cMailbox = ThreadMailbox::Create(&modTimer::MailboxProc);
  return slot.m_cMailbox;
}

LRESULT CALLBACK MailboxProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg != ThreadMailbox::kWakeMessage && uMsg != ThreadMailbox::kSentMessage) {
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
  }
  // Work reaches only its own thread's mailbox; RunPosted lets nothing escape.
  const ThreadTimerSlot* slot = ExistingSlot();
  if (const auto mailbox = slot != nullptr ? slot->m_cMailbox : nullptr) mailbox->RunPosted(uMsg);
  return 0;
}

std::shared_ptr<ThreadPart> PartOfType(const std::type_info& type,
                                       std::shared_ptr<ThreadPart> (*make)()) {
  ThreadTimerSlot& slot = Slot();
  for (const auto& kept : slot.m_parts) {
    if (kept.type == type) return kept.part;
  }
  auto part = make();
  slot.m_parts.push_back({type, part});
  return part;
}

void EndThread() noexcept {
#ifdef _WIN32
  delete std::exchange(t_pSlot, nullptr);
#else
  // The mailbox and the dispatcher stay until the thread's own end.
  t_slot.EndParts(ThreadPart::Ending::kEndThread);
  t_slot.m_parts.clear();
#endif
}

void RefuseTimersForTesting(int count) { Slot().refusals = count; }

}  // namespace qel::modTimer
