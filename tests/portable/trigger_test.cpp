// One-shot triggers over the thread's timers: exactly one Trigger per arming,
// only from the message loop, and per-thread dispatchers.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "trigger/clsTrigger.h"
#include "trigger/clsTriggerSync.h"
#include "trigger/message_loop.h"
#include "trigger/modTimer.h"
#include "trigger/thread_mailbox.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A trigger with a counting handler.
struct CountedTrigger {
  std::shared_ptr<clsTrigger> trigger = clsTrigger::Create();
  int fired = 0;
  std::vector<Clock::time_point> times;
  Connection binding = trigger->Trigger.Bind([this] {
    ++fired;
    times.push_back(Clock::now());
  });
};

class TriggerTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  void SetUp() override { m_timersBefore = platform::LiveTimerCount(); }
  // Every test leaves the platform without a live timer of its own.
  void TearDown() override { EXPECT_EQ(platform::LiveTimerCount(), m_timersBefore); }
  size_t m_timersBefore = 0;
#endif
};

TEST_F(TriggerTest, StartFiresOnceOnlyFromTheMessageLoop) {
  CountedTrigger t;
  EXPECT_TRUE(t.trigger->Start(10));
  // Not from inside Start, and not while the thread stays out of its loop.
  std::this_thread::sleep_for(milliseconds(60));
  EXPECT_EQ(t.fired, 0);
  EXPECT_TRUE(test::WaitFor([&] { return t.fired > 0; }));
  PumpMessagesFor(milliseconds(120));
  EXPECT_EQ(t.fired, 1);
}

TEST_F(TriggerTest, NonPositiveDelayArmsNothing) {
  for (const int32_t delay : {0, -5, INT32_MIN}) {
    CountedTrigger t;
    EXPECT_FALSE(t.trigger->Start(delay)) << delay;
    PumpMessagesFor(milliseconds(40));
    EXPECT_EQ(t.fired, 0) << delay;
  }
}

TEST_F(TriggerTest, NonPositiveDelayStopsTheTimerHeldBefore) {
  CountedTrigger t;
  ASSERT_TRUE(t.trigger->Start(10));
  EXPECT_FALSE(t.trigger->Start(0));
  PumpMessagesFor(milliseconds(60));
  EXPECT_EQ(t.fired, 0);
}

TEST_F(TriggerTest, RearmBeforeFiringGivesOneEventTimedFromTheSecondCall) {
  CountedTrigger t;
  ASSERT_TRUE(t.trigger->Start(100));
  std::this_thread::sleep_for(milliseconds(60));
  const auto second = Clock::now();
  ASSERT_TRUE(t.trigger->Start(100));
  ASSERT_TRUE(test::WaitFor([&] { return t.fired > 0; }));
  PumpMessagesFor(milliseconds(150));
  EXPECT_EQ(t.fired, 1);
  // Never early: the first arming's 100 ms had passed long before.
  EXPECT_GE(t.times.front() - second, milliseconds(95));
}

TEST_F(TriggerTest, TwoTriggersOnOneThreadEachFireTheirOwnEvent) {
  CountedTrigger fast;
  CountedTrigger slow;
  ASSERT_TRUE(fast.trigger->Start(10));
  ASSERT_TRUE(slow.trigger->Start(150));
  ASSERT_TRUE(test::WaitFor([&] { return fast.fired > 0; }));
  EXPECT_EQ(slow.fired, 0);
  ASSERT_TRUE(test::WaitFor([&] { return slow.fired > 0; }));
  PumpMessagesFor(milliseconds(60));
  EXPECT_EQ(fast.fired, 1);
  EXPECT_EQ(slow.fired, 1);
}

TEST_F(TriggerTest, TriggerDestroyedWhileArmedRaisesNothing) {
  int fired = 0;
  Connection binding;
  {
    auto trigger = clsTrigger::Create();
    binding = trigger->Trigger.Bind([&] { ++fired; });
    ASSERT_TRUE(trigger->Start(10));
  }
  PumpMessagesFor(milliseconds(80));
  EXPECT_EQ(fired, 0);
}

TEST_F(TriggerTest, TickOfAnUnknownIdFiresNothing) {
  CountedTrigger t;
  ASSERT_TRUE(t.trigger->Start(200));
  modTimer::TimerProc(nullptr, WM_TIMER, 0x7FFFFFF0, 0);
  EXPECT_EQ(t.fired, 0);
  // The armed trigger is unaffected and still fires for its own timer.
  ASSERT_TRUE(test::WaitFor([&] { return t.fired > 0; }));
  EXPECT_EQ(t.fired, 1);
}

TEST_F(TriggerTest, HandlerThatRearmsGetsASecondEvent) {
  auto trigger = clsTrigger::Create();
  int fired = 0;
  auto binding = trigger->Trigger.Bind([&] {
    if (++fired == 1) {
      EXPECT_TRUE(trigger->Start(10));
    }
  });
  ASSERT_TRUE(trigger->Start(10));
  ASSERT_TRUE(test::WaitFor([&] { return fired == 2; }));
  PumpMessagesFor(milliseconds(60));
  EXPECT_EQ(fired, 2);
}

TEST_F(TriggerTest, HandlerMayDropTheLastReferenceToItsTrigger) {
  auto trigger = clsTrigger::Create();
  std::weak_ptr<clsTrigger> watch = trigger;
  int fired = 0;
  auto binding = trigger->Trigger.Bind([&] {
    ++fired;
    trigger.reset();
    EXPECT_FALSE(watch.expired()) << "kept alive until its handler returns";
  });
  ASSERT_TRUE(trigger->Start(10));
  ASSERT_TRUE(test::WaitFor([&] { return fired > 0; }));
  EXPECT_TRUE(watch.expired());
}

TEST_F(TriggerTest, ErrorInAHandlerStopsAtTheTimerCallback) {
  CountedTrigger other;
  auto trigger = clsTrigger::Create();
  int fired = 0;
  auto binding = trigger->Trigger.Bind([&] {
    ++fired;
    throw std::runtime_error("handler failed");
  });
  ASSERT_TRUE(trigger->Start(10));
  ASSERT_TRUE(other.trigger->Start(60));
  EXPECT_NO_THROW(test::WaitFor([&] { return other.fired > 0; }));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(other.fired, 1);
  // The failed trigger is idle and can be armed again.
  EXPECT_TRUE(trigger->Start(10));
  EXPECT_TRUE(test::WaitFor([&] { return fired == 2; }));
}

TEST_F(TriggerTest, RefusedTimerLeavesTheTriggerIdle) {
  CountedTrigger t;
  modTimer::RefuseTimersForTesting(1);
  EXPECT_FALSE(t.trigger->Start(10));
  PumpMessagesFor(milliseconds(50));
  EXPECT_EQ(t.fired, 0);
  EXPECT_TRUE(t.trigger->Start(10));
  EXPECT_TRUE(test::WaitFor([&] { return t.fired == 1; }));
}

TEST_F(TriggerTest, EachThreadHasItsOwnDispatcher) {
  const auto mine = modTimer::TriggerSync();
  EXPECT_EQ(mine, modTimer::TriggerSync());
  std::shared_ptr<clsTriggerSync> theirs;
  bool firedThere = false;
  std::thread other([&] {
    theirs = modTimer::TriggerSync();
    CountedTrigger t;
    if (t.trigger->Start(10)) firedThere = test::WaitFor([&] { return t.fired == 1; });
  });
  other.join();
  EXPECT_NE(theirs, nullptr);
  EXPECT_NE(theirs, mine);
  EXPECT_TRUE(firedThere);
}

TEST_F(TriggerTest, TicksOfOneThreadNeverReachAnotherThreadsTriggers) {
  CountedTrigger here;
  ASSERT_TRUE(here.trigger->Start(30));
  std::thread other([] {
    CountedTrigger there;
    if (there.trigger->Start(10)) test::WaitFor([&] { return there.fired == 1; });
    PumpMessagesFor(milliseconds(60));
  });
  other.join();
  // This thread did not dispatch meanwhile: nothing of ours has run.
  EXPECT_EQ(here.fired, 0);
  EXPECT_TRUE(test::WaitFor([&] { return here.fired == 1; }));
}

// On Windows a message sent to a window of the sending thread runs its
// procedure at once, inside the send; the mailbox must not hold its lock then.
TEST(ThreadMailboxTest, WorkSentOrPostedFromItsOwnThreadRuns) {
  const auto mailbox = modTimer::Mailbox();
  ASSERT_TRUE(mailbox);
  int sent = 0;
  int posted = 0;
  ASSERT_TRUE(mailbox->Send([&] { ++sent; }));
  ASSERT_TRUE(mailbox->Send([&] { ++sent; }));
  ASSERT_TRUE(mailbox->Post([&] { ++posted; }));
  EXPECT_TRUE(test::WaitFor([&] { return sent == 2 && posted == 1; }, milliseconds(5000)));
}

}  // namespace
}  // namespace qel
