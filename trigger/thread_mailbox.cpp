#include "trigger/thread_mailbox.h"

#include <algorithm>
#include <utility>

namespace qel {
namespace {

constexpr char16_t kClassNameText[] = u"QELUpdateCheckMailbox";

LPCWSTR ClassName() { return reinterpret_cast<LPCWSTR>(kClassNameText); }

}  // namespace

std::shared_ptr<ThreadMailbox> ThreadMailbox::Create(WNDPROC proc) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = ClassName();
  // Registered once per process; later threads find it there.
  if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return nullptr;
  }
  std::shared_ptr<ThreadMailbox> mailbox(new ThreadMailbox());
  mailbox->m_hwnd = CreateWindowExW(0, ClassName(), nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
  if (mailbox->m_hwnd == nullptr) return nullptr;
  return mailbox;
}

ThreadMailbox::~ThreadMailbox() = default;

bool ThreadMailbox::Post(Work work) { return Queue(m_posted, kWakeMessage, std::move(work)); }

bool ThreadMailbox::Send(Work work) { return Queue(m_sent, kSentMessage, std::move(work)); }

bool ThreadMailbox::Queue(Lane& lane, UINT message, Work work) {
  uint64_t ticket = 0;
  {
    const std::lock_guard lock(m_mutex);
    if (m_bClosed) return false;
    ticket = ++m_lTickets;
    lane.work.push_back({ticket, std::move(work)});
    if (lane.signalled) return true;
    lane.signalled = true;
  }
  // Signalled without the lock: a message sent to a window of the calling
  // thread runs its procedure at once, and that takes the lock. A sent
  // message is handled by any message retrieval of the owning thread; this
  // one does not wait for it.
  const BOOL signalled = message == kSentMessage ? SendNotifyMessageW(m_hwnd, message, 0, 0)
                                                 : PostMessageW(m_hwnd, message, 0, 0);
  if (signalled) return true;
  // The queue is full: this work cannot arrive, and must not linger. Work
  // queued meanwhile waits for the next wake-up.
  Work dropped;
  const std::lock_guard lock(m_mutex);
  lane.signalled = false;
  const auto mine = std::find_if(lane.work.begin(), lane.work.end(),
                                 [&](const Queued& queued) { return queued.ticket == ticket; });
  if (mine == lane.work.end()) return false;  // dropped by Close meanwhile
  dropped = std::move(mine->work);
  lane.work.erase(mine);
  return false;
}

void ThreadMailbox::RunPosted(UINT message) noexcept {
  std::deque<Queued> batch;
  {
    std::lock_guard lock(m_mutex);
    Lane& lane = message == kSentMessage ? m_sent : m_posted;
    lane.signalled = false;
    batch.swap(lane.work);
  }
  for (Queued& queued : batch) {
    try {
      queued.work();
    } catch (...) {
    }
  }
}

void ThreadMailbox::Close() noexcept {
  std::deque<Queued> dropped;
  {
    std::lock_guard lock(m_mutex);
    if (m_bClosed) return;
    m_bClosed = true;
    dropped.swap(m_posted.work);
    for (Queued& queued : m_sent.work) dropped.push_back(std::move(queued));
    m_sent.work.clear();
  }
  DestroyWindow(m_hwnd);
}

}  // namespace qel
