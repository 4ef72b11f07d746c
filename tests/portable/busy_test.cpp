#include <gtest/gtest.h>

#include "retrieval/clsBusy.h"

namespace qel {
namespace {

TEST(BusyTest, NewObject) {
  const clsBusy busy;
  EXPECT_FALSE(busy.Busy());
  EXPECT_EQ(busy.TaskName(), u"");
  EXPECT_EQ(busy.IdleMessage(), u"Idle");
}

TEST(BusyTest, SecondStartTaskIsRefusedAndKeepsTheFirstName) {
  clsBusy busy;
  EXPECT_TRUE(busy.StartTask(u"first"));
  EXPECT_FALSE(busy.StartTask(u"second"));
  EXPECT_TRUE(busy.Busy());
  EXPECT_EQ(busy.TaskName(), u"first");
  busy.EndTask();
  EXPECT_TRUE(busy.StartTask(u"second"));
  EXPECT_EQ(busy.TaskName(), u"second");
}

TEST(BusyTest, EndTaskNamesIdleWhateverTheIdleMessage) {
  clsBusy busy;
  busy.IdleMessage(u"Resting");
  EXPECT_EQ(busy.TaskName(), u"Resting");
  ASSERT_TRUE(busy.StartTask(u"work"));
  busy.EndTask();
  EXPECT_FALSE(busy.Busy());
  EXPECT_EQ(busy.TaskName(), u"Idle");
  EXPECT_EQ(busy.IdleMessage(), u"Resting");
}

TEST(BusyTest, IdleMessageWrittenWhileBusyLeavesTheTaskName) {
  clsBusy busy;
  ASSERT_TRUE(busy.StartTask(u"work"));
  busy.IdleMessage(u"Later");
  EXPECT_EQ(busy.TaskName(), u"work");
  EXPECT_EQ(busy.IdleMessage(), u"Later");
}

}  // namespace
}  // namespace qel
