// Thread timers, message-only windows and per-thread message queues, as USER
// keeps them on Windows: a timer belongs to the thread that armed it, repeats
// until killed, and is delivered as WM_TIMER by that thread's own message
// retrieval when no posted message is waiting; a window belongs to the thread
// that made it, and messages posted to it from any thread reach its procedure
// through that thread's dispatch. Waiting blocks on the monotonic clock until
// the next timer is due or a message is posted.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "qel_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TimerEntry {
  std::chrono::milliseconds interval;
  Clock::time_point due;
  TIMERPROC proc;
};

struct Window {
  DWORD threadId;
  WNDPROC proc;
};

struct ThreadQueue {
  DWORD threadId = 0;
  std::deque<MSG> posted;
  std::optional<int> quitCode;
  std::map<UINT_PTR, TimerEntry> timers;
  std::condition_variable wake;
};

// The process's USER state: every thread's queue, under one lock.
class User {
 public:
  static User& Instance() {
    static User* const user = new User();  // outlives every thread's exit
    return *user;
  }

  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
  UINT_PTR nextTimerId = 1;
  size_t liveTimers = 0;
  DWORD nextThreadId = 1;
  std::map<std::u16string, WNDPROC> classes;
  // Window handles are numbers never handed out twice, so a message for a
  // window destroyed meanwhile is recognised and dropped.
  std::map<uintptr_t, Window> windows;
  uintptr_t nextWindow = 0x10010;

  UINT_PTR NewTimerId() {
    // Ids are unique in the process and never 0; skip any still in use.
    for (;;) {
      const UINT_PTR id = nextTimerId;
      nextTimerId = nextTimerId >= 0x7FFFFFFF ? 1 : nextTimerId + 1;
      bool used = false;
      for (const auto& [tid, q] : queues) used = used || q->timers.count(id) != 0;
      if (!used) return id;
    }
  }
};

// Created with the thread's first USER call; removed, with its timers, when
// the thread ends.
struct ThreadQueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~ThreadQueueHolder() {
    if (!queue) return;
    User& user = User::Instance();
    std::lock_guard lock(user.mutex);
    user.liveTimers -= queue->timers.size();
    queue->timers.clear();
    std::erase_if(user.windows,
                  [&](const auto& entry) { return entry.second.threadId == queue->threadId; });
    user.queues.erase(queue->threadId);
  }
};

thread_local DWORD t_threadId = 0;
thread_local ThreadQueueHolder t_queue;

DWORD ThreadIdLocked(User& user) {
  if (t_threadId == 0) t_threadId = user.nextThreadId++;
  return t_threadId;
}

ThreadQueue& OwnQueueLocked(User& user) {
  if (!t_queue.queue) {
    auto q = std::make_shared<ThreadQueue>();
    q->threadId = ThreadIdLocked(user);
    user.queues[q->threadId] = q;
    t_queue.queue = q;
  }
  return *t_queue.queue;
}

// Takes the next message the thread would retrieve: posted messages first,
// then WM_QUIT, then a timer that has come due.
bool TakeMessageLocked(ThreadQueue& q, MSG* msg, bool remove) {
  const auto now = Clock::now();
  *msg = MSG{};
  if (!q.posted.empty()) {
    *msg = q.posted.front();
    if (remove) q.posted.pop_front();
    return true;
  }
  if (q.quitCode) {
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(*q.quitCode);
    if (remove) q.quitCode.reset();
    return true;
  }
  auto due = q.timers.end();
  for (auto it = q.timers.begin(); it != q.timers.end(); ++it) {
    if (it->second.due <= now && (due == q.timers.end() || it->second.due < due->second.due)) {
      due = it;
    }
  }
  if (due == q.timers.end()) return false;
  msg->message = WM_TIMER;
  msg->wParam = due->first;
  msg->lParam = reinterpret_cast<LPARAM>(due->second.proc);
  if (remove) due->second.due = now + due->second.interval;
  return true;
}

std::optional<Clock::time_point> NextDueLocked(const ThreadQueue& q) {
  std::optional<Clock::time_point> next;
  for (const auto& [id, t] : q.timers) {
    if (!next || t.due < *next) next = t.due;
  }
  return next;
}

bool HasInputLocked(const ThreadQueue& q) {
  if (!q.posted.empty() || q.quitCode) return true;
  const auto now = Clock::now();
  return std::any_of(q.timers.begin(), q.timers.end(),
                     [&](const auto& t) { return t.second.due <= now; });
}

// Blocks until the thread has input or `deadline` passes.
void WaitForInputLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& q,
                        std::optional<Clock::time_point> deadline) {
  while (!HasInputLocked(q)) {
    auto until = NextDueLocked(q);
    if (deadline && (!until || *deadline < *until)) until = deadline;
    if (until) {
      if (q.wake.wait_until(lock, *until) == std::cv_status::timeout && deadline &&
          Clock::now() >= *deadline) {
        return;
      }
    } else {
      q.wake.wait(lock);
    }
  }
}

}  // namespace

DWORD GetCurrentThreadId() {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  return ThreadIdLocked(user);
}

DWORD GetTickCount() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
          .count());
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  // Only thread timers (no window) exist here; the platform picks the id.
  if (hWnd != nullptr || nIDEvent != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  ThreadQueue& q = OwnQueueLocked(user);
  const UINT_PTR id = user.NewTimerId();
  // As on Windows, intervals below 10 ms are raised to 10 ms.
  const auto interval = std::chrono::milliseconds(std::max<UINT>(uElapse, 10));
  q.timers[id] = TimerEntry{interval, Clock::now() + interval, lpTimerFunc};
  ++user.liveTimers;
  q.wake.notify_all();
  return id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  ThreadQueue& q = OwnQueueLocked(user);
  if (hWnd != nullptr || q.timers.erase(uIDEvent) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  --user.liveTimers;
  return TRUE;
}

BOOL PeekMessageW(MSG* lpMsg, HWND, UINT, UINT, UINT wRemoveMsg) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  return TakeMessageLocked(OwnQueueLocked(user), lpMsg, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE
                                                                                       : FALSE;
}

BOOL GetMessageW(MSG* lpMsg, HWND, UINT, UINT) {
  User& user = User::Instance();
  std::unique_lock lock(user.mutex);
  ThreadQueue& q = OwnQueueLocked(user);
  while (!TakeMessageLocked(q, lpMsg, true)) WaitForInputLocked(lock, q, std::nullopt);
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (lpMsg->hwnd != nullptr) {
    WNDPROC proc = nullptr;
    {
      User& user = User::Instance();
      std::lock_guard lock(user.mutex);
      const auto found = user.windows.find(reinterpret_cast<uintptr_t>(lpMsg->hwnd));
      if (found != user.windows.end() && found->second.threadId == ThreadIdLocked(user)) {
        proc = found->second.proc;
      }
    }
    return proc != nullptr ? proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
  }
  if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
    const auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
    proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
  }
  return 0;
}

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  const auto it = user.queues.find(idThread);
  if (it == user.queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  MSG msg{};
  msg.message = Msg;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  it->second->posted.push_back(msg);
  it->second->wake.notify_all();
  return TRUE;
}

HINSTANCE GetModuleHandleW(LPCWSTR) { return reinterpret_cast<HINSTANCE>(0x400000); }

ATOM RegisterClassW(const WNDCLASSW* lpWndClass) {
  if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr ||
      lpWndClass->lpszClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  const auto [it, added] = user.classes.emplace(lpWndClass->lpszClassName, lpWndClass->lpfnWndProc);
  if (!added) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return static_cast<ATOM>(0xC000 + user.classes.size());
}

HWND CreateWindowExW(DWORD, LPCWSTR lpClassName, LPCWSTR, DWORD, int, int, int, int,
                     HWND hWndParent, HMENU, HINSTANCE, LPVOID) {
  // Only message-only windows exist here.
  if (hWndParent != HWND_MESSAGE || lpClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  const auto found = user.classes.find(lpClassName);
  if (found == user.classes.end()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  const DWORD threadId = OwnQueueLocked(user).threadId;
  const uintptr_t handle = user.nextWindow;
  user.nextWindow += 2;
  user.windows[handle] = Window{threadId, found->second};
  return reinterpret_cast<HWND>(handle);
}

BOOL DestroyWindow(HWND hWnd) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  const auto found = user.windows.find(reinterpret_cast<uintptr_t>(hWnd));
  // As on Windows, only the owning thread may destroy a window.
  if (found == user.windows.end() || found->second.threadId != ThreadIdLocked(user)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  user.windows.erase(found);
  return TRUE;
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  const auto window = user.windows.find(reinterpret_cast<uintptr_t>(hWnd));
  const auto queue =
      window == user.windows.end() ? user.queues.end() : user.queues.find(window->second.threadId);
  if (queue == user.queues.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MSG msg{};
  msg.hwnd = hWnd;
  msg.message = Msg;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  queue->second->posted.push_back(msg);
  queue->second->wake.notify_all();
  return TRUE;
}

BOOL SendNotifyMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return PostMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) { return 0; }

void PostQuitMessage(int nExitCode) {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  ThreadQueue& q = OwnQueueLocked(user);
  q.quitCode = nExitCode;
  q.wake.notify_all();
}

DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE*, DWORD dwMilliseconds, DWORD, DWORD) {
  if (nCount != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  User& user = User::Instance();
  std::unique_lock lock(user.mutex);
  ThreadQueue& q = OwnQueueLocked(user);
  std::optional<Clock::time_point> deadline;
  if (dwMilliseconds != INFINITE)
    deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  WaitForInputLocked(lock, q, deadline);
  return HasInputLocked(q) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

namespace qel::platform {

size_t LiveTimerCount() {
  User& user = User::Instance();
  std::lock_guard lock(user.mutex);
  return user.liveTimers;
}

}  // namespace qel::platform
