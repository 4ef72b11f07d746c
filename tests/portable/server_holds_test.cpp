// The server's holds against COM's count of them, with a stand-in for COM's
// count that suspends creations at 0, as Windows does, and can pause inside
// its AddRef: the two counts never disagree, and a count that comes back
// from 0 while the server is not ending lets creations in again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "server/process/server_holds.h"

namespace qel::com {
namespace {

using namespace std::chrono_literals;

struct ComCount {
  std::atomic<long> count{0};
  std::atomic<bool> suspended{false};
  std::atomic<int> lastHoldGone{0};
  // The next AddRef says so here, then waits this long before it counts.
  std::atomic<bool> pauseNextAddRef{false};
  std::promise<void> paused;
};

class ComCountStandIn {
 public:
  explicit ComCountStandIn(ComCount& state) : m_state(state) {}
  unsigned long AddRef() {
    if (m_state.pauseNextAddRef.exchange(false)) {
      m_state.paused.set_value();
      std::this_thread::sleep_for(200ms);
    }
    return static_cast<unsigned long>(++m_state.count);
  }
  unsigned long Release() {
    const long left = --m_state.count;
    if (left == 0) m_state.suspended = true;
    return static_cast<unsigned long>(left);
  }
  void Resume() { m_state.suspended = false; }
  void LastHoldGone() { ++m_state.lastHoldGone; }

 private:
  ComCount& m_state;
};

using Lifetime = BasicServerLifetime<ComCountStandIn>;

TEST(ServerHolds, ComsCountFollowsTheHoldsAndComesBackLettingCreationsIn) {
  enum Step { kTryAddRef, kRelease, kTryEnd };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    long count;
    bool suspended;
    int lastHoldGone;
  };
  const Case cases[] = {
      {"a creation after the last hold went", {kTryAddRef, kRelease, kTryAddRef}, 1, false, 1},
      {"a creation after the end was decided",
       {kTryAddRef, kRelease, kTryEnd, kTryAddRef},
       0,
       true,
       1},
      {"the end refused while held", {kTryAddRef, kTryEnd, kTryAddRef, kRelease}, 1, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComCount com;
    Lifetime lifetime(com);
    bool ending = false;
    for (const Step step : c.steps) {
      if (step == kTryAddRef) {
        EXPECT_EQ(lifetime.TryAddRef(), !ending);
      } else if (step == kRelease) {
        lifetime.Release();
      } else {
        ending = lifetime.TryEnd();
      }
    }
    EXPECT_EQ(com.count, c.count);
    EXPECT_EQ(lifetime.Held(), c.count > 0);
    EXPECT_EQ(com.suspended, c.suspended);
    EXPECT_EQ(com.lastHoldGone, c.lastHoldGone);
  }
}

TEST(ServerHolds, ANewHoldDuringAnotherObjectsLastReleaseKeepsCreationsLetIn) {
  // One object holds the server. A creation's hold pauses between the
  // server's count and COM's; the object's last release meanwhile must not
  // take COM's count to 0, or the class objects would stay suspended for
  // good with the server held by the new object.
  ComCount com;
  Lifetime lifetime(com);
  ASSERT_TRUE(lifetime.TryAddRef());
  com.pauseNextAddRef = true;
  std::future<void> paused = com.paused.get_future();
  std::thread creation([&] { EXPECT_TRUE(lifetime.TryAddRef()); });
  paused.wait();
  lifetime.Release();
  creation.join();
  EXPECT_EQ(com.count, 1);
  EXPECT_TRUE(lifetime.Held());
  EXPECT_FALSE(com.suspended) << "creations stay shut out while the server is held";
  EXPECT_EQ(com.lastHoldGone, 0);
}

}  // namespace
}  // namespace qel::com
