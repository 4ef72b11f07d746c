#include "trigger/thread_mailbox.h"

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

bool ThreadMailbox::Post(Work work) {
  std::unique_lock lock(m_mutex);
  if (m_bClosed) return false;
  m_work.push_back(std::move(work));
  if (m_bSignalled) return true;
  if (!PostMessageW(m_hwnd, kWakeMessage, 0, 0)) {
    // The queue is full: the work cannot arrive, and must not linger.
    Work dropped = std::move(m_work.back());
    m_work.pop_back();
    lock.unlock();
    return false;
  }
  m_bSignalled = true;
  return true;
}

void ThreadMailbox::RunPosted() noexcept {
  std::deque<Work> batch;
  {
    std::lock_guard lock(m_mutex);
    m_bSignalled = false;
    batch.swap(m_work);
  }
  for (Work& work : batch) {
    try {
      work();
    } catch (...) {
    }
  }
}

void ThreadMailbox::Close() noexcept {
  std::deque<Work> dropped;
  {
    std::lock_guard lock(m_mutex);
    if (m_bClosed) return;
    m_bClosed = true;
    dropped.swap(m_work);
  }
  DestroyWindow(m_hwnd);
}

}  // namespace qel
