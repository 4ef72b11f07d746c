// The Linux stand-in for thread timers keeps the contract the triggers rely
// on. (The Windows build uses the real USER timers; nothing to test there.)
#ifndef _WIN32
#include <gtest/gtest.h>
#include <qel_platform.h>
#include <windows.h>

#include <chrono>
#include <ctime>
#include <set>
#include <thread>
#include <vector>

#include "trigger/message_loop.h"

namespace {

using std::chrono::milliseconds;

std::vector<UINT_PTR> g_ticks;  // per test, this thread only
void CALLBACK RecordTick(HWND, UINT msg, UINT_PTR id, DWORD) {
  if (msg == WM_TIMER) g_ticks.push_back(id);
}

class TimerStandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ticks.clear();
    m_before = qel::platform::LiveTimerCount();
  }
  void TearDown() override { EXPECT_EQ(qel::platform::LiveTimerCount(), m_before); }
  size_t m_before = 0;
};

TEST_F(TimerStandInTest, IdsAreNonZeroAndDistinct) {
  std::set<UINT_PTR> ids;
  for (int i = 0; i < 50; ++i) {
    const UINT_PTR id = SetTimer(nullptr, 0, 1000, RecordTick);
    EXPECT_NE(id, 0u);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 50u);
  EXPECT_EQ(qel::platform::LiveTimerCount(), m_before + 50);
  for (const UINT_PTR id : ids) EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST_F(TimerStandInTest, RepeatsUntilKilledAndOnlyFromDispatch) {
  const UINT_PTR id = SetTimer(nullptr, 0, 10, RecordTick);
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_TRUE(g_ticks.empty()) << "callbacks run only from the message dispatch";
  qel::PumpMessagesFor(milliseconds(120));
  EXPECT_GE(g_ticks.size(), 3u);
  for (const UINT_PTR tick : g_ticks) EXPECT_EQ(tick, id);
  EXPECT_TRUE(KillTimer(nullptr, id));
  const size_t after = g_ticks.size();
  qel::PumpMessagesFor(milliseconds(60));
  EXPECT_EQ(g_ticks.size(), after);
}

TEST_F(TimerStandInTest, KillTimerIgnoresUnknownIdsAndOtherThreadsTimers) {
  EXPECT_FALSE(KillTimer(nullptr, 0x7FFFFFF1));
  UINT_PTR foreign = 0;
  std::thread([&] { foreign = SetTimer(nullptr, 0, 10, RecordTick); }).join();
  // The arming thread has ended, and its timers with it.
  EXPECT_FALSE(KillTimer(nullptr, foreign));
  const UINT_PTR own = SetTimer(nullptr, 0, 1000, RecordTick);
  EXPECT_TRUE(KillTimer(nullptr, own));
  EXPECT_FALSE(KillTimer(nullptr, own));
}

// As on Windows, a thread has a queue once it has made its first queue call.
void EnsureQueue() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

TEST_F(TimerStandInTest, PostedMessageWakesAWaitingThread) {
  EnsureQueue();
  const DWORD self = GetCurrentThreadId();
  std::thread poster([self] {
    std::this_thread::sleep_for(milliseconds(30));
    PostThreadMessageW(self, WM_APP, 7, 9);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 5000, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
            WAIT_OBJECT_0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_APP);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(msg.lParam, 9);
  poster.join();
}

TEST_F(TimerStandInTest, QuitEndsGetMessageAfterPostedMessages) {
  EnsureQueue();
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 1, 0);
  PostQuitMessage(3);
  MSG msg;
  EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_APP);
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(TimerStandInTest, WaitingDoesNotSpin) {
  const UINT_PTR id = SetTimer(nullptr, 0, 100, RecordTick);
  const std::clock_t cpuBefore = std::clock();
  qel::PumpMessagesFor(milliseconds(300));
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_LT(cpuMs, 100.0) << "a blocked wait uses next to no processor time";
  EXPECT_GE(g_ticks.size(), 2u);
  KillTimer(nullptr, id);
}

TEST_F(TimerStandInTest, PostingToAThreadWithoutAQueueFails) {
  EXPECT_FALSE(PostThreadMessageW(0x7FFFFFF0, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

}  // namespace
#endif
