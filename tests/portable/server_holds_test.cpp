// The server's holds against a stand-in for COM's count, which suspends
// creations at 0 as Windows does and can pause inside AddRef: the two counts
// never disagree, and one back from 0 while the server is not ending lets
// creations in again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "server/process/server_holds.h"

namespace qel::com {
namespace {

using namespace std::chrono_literals;

struct ComCount {
  std::atomic<long> count{0};
  std::atomic<bool> suspended{false};
  std::atomic<int> lastHoldGone{0};
  // The next AddRef says so on `paused`, then waits a while before it counts.
  std::atomic<bool> pauseNextAddRef{false};
  std::promise<void> paused;
};

struct StandIn {
  explicit StandIn(ComCount& state) : com(state) {}
  unsigned long AddRef() {
    if (com.pauseNextAddRef.exchange(false)) {
      com.paused.set_value();
      std::this_thread::sleep_for(200ms);
    }
    return static_cast<unsigned long>(++com.count);
  }
  unsigned long Release() {
    const long left = --com.count;
    if (left == 0) com.suspended = true;
    return static_cast<unsigned long>(left);
  }
  void Resume() { com.suspended = false; }
  void LastHoldGone() { ++com.lastHoldGone; }
  ComCount& com;
};

TEST(ServerHolds, ComsCountNeverDisagreesAndComesBackFromZeroLettingCreationsIn) {
  ComCount com;
  BasicServerLifetime<StandIn> lifetime(com);
  ASSERT_TRUE(lifetime.TryAddRef());
  // A creation's hold pauses between the server's count and COM's; the only
  // object's last release meanwhile must not take COM's count to 0, or the
  // class objects would stay suspended with the server held.
  com.pauseNextAddRef = true;
  std::future<void> paused = com.paused.get_future();
  std::thread creation([&] { EXPECT_TRUE(lifetime.TryAddRef()); });
  paused.wait();
  lifetime.Release();
  creation.join();
  EXPECT_EQ(com.count, 1);
  EXPECT_TRUE(lifetime.Held());
  EXPECT_FALSE(com.suspended) << "creations shut out while the server is held";
  EXPECT_EQ(com.lastHoldGone, 0);

  // The last hold goes, and a creation comes before the end is decided.
  lifetime.Release();
  EXPECT_EQ(com.lastHoldGone, 1);
  EXPECT_TRUE(lifetime.TryAddRef());
  EXPECT_FALSE(com.suspended);
  // Once the end is decided, nothing is let in again.
  lifetime.Release();
  EXPECT_TRUE(lifetime.TryEnd());
  EXPECT_FALSE(lifetime.TryAddRef());
  EXPECT_EQ(com.count, 0);
  EXPECT_TRUE(com.suspended);
}

}  // namespace
}  // namespace qel::com
