#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "retrieval/clsBusy.h"

namespace qel {
namespace {

// What an object shows after some steps: whether busy, its task name and its
// idle message.
struct BusyCase {
  const char* szWhat;
  std::function<void(clsBusy&)> steps;
  bool bBusy;
  std::u16string strTaskName;
  std::u16string strIdleMessage;
};

TEST(BusyTest, ShowsTheTaskOrTheIdleMessage) {
  const BusyCase cases[] = {
      {"new object", [](clsBusy&) {}, false, u"", u"Idle"},
      {"a second task refused while busy, the first one's name kept",
       [](clsBusy& busy) {
         EXPECT_TRUE(busy.StartTask(u"first"));
         EXPECT_FALSE(busy.StartTask(u"second"));
       },
       true, u"first", u"Idle"},
      {"a second task after the first one ended",
       [](clsBusy& busy) {
         EXPECT_TRUE(busy.StartTask(u"first"));
         busy.EndTask();
         EXPECT_TRUE(busy.StartTask(u"second"));
       },
       true, u"second", u"Idle"},
      {"an idle message written before any task",
       [](clsBusy& busy) { busy.IdleMessage(u"Resting"); }, false, u"Resting", u"Resting"},
      // The end of a task names "Idle", whatever the idle message.
      {"a task ended after an idle message was written",
       [](clsBusy& busy) {
         busy.IdleMessage(u"Resting");
         EXPECT_TRUE(busy.StartTask(u"work"));
         busy.EndTask();
       },
       false, u"Idle", u"Resting"},
      {"an idle message written while busy",
       [](clsBusy& busy) {
         EXPECT_TRUE(busy.StartTask(u"work"));
         busy.IdleMessage(u"Later");
       },
       true, u"work", u"Later"},
  };
  for (const BusyCase& row : cases) {
    SCOPED_TRACE(row.szWhat);
    clsBusy busy;
    row.steps(busy);
    EXPECT_EQ(busy.Busy(), row.bBusy);
    EXPECT_EQ(busy.TaskName(), row.strTaskName);
    EXPECT_EQ(busy.IdleMessage(), row.strIdleMessage);
  }
}

}  // namespace
}  // namespace qel
