// The threads that run a thread's downloads, and the gate through which a
// download is given up: a thread is reused, few wait, one whose download is
// given up holds back nothing, finished ones are joined at the end, and
// handles end up closed whatever the timing.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "retrieval/download_gate.h"
#include "retrieval/download_threads.h"
#include "retrieval/internet_handle.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel {
namespace {

using namespace std::chrono_literals;

// Waits, for at most `timeout`, until another thread has made `done` true.
bool Reaches(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A job that runs until Release, as a download stalled by its server does.
// The job shares what it waits on: a thread let go may still be waking when
// the test ends.
class Stall {
 public:
  DownloadThreads::Job Job() const {
    return [shared = m_shared] {
      std::unique_lock lock(shared->mutex);
      shared->changed.wait(lock, [&] { return shared->released; });
      return std::function<void()>();
    };
  }
  void Release() const {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->released = true;
    m_shared->changed.notify_all();
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
  };
  const std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};

// Runs a job that notes its thread and waits until its hand-over is done.
std::thread::id RunToTheEnd(DownloadThreads& threads) {
  std::promise<std::thread::id> handedOver;
  threads.Run([&] {
    const auto id = std::this_thread::get_id();
    return std::function<void()>([&, id] { handedOver.set_value(id); });
  });
  return handedOver.get_future().get();
}

TEST(DownloadThreadsTest, AThreadThatIsDoneRunsTheNextJob) {
  DownloadThreads threads;
  std::set<std::thread::id> used;
  for (int i = 0; i < 5; ++i) {
    used.insert(RunToTheEnd(threads));
    ASSERT_TRUE(Reaches([&] { return threads.Waiting() == 1; }));
  }
  EXPECT_EQ(used.size(), 1u);
  EXPECT_EQ(threads.Threads(), 1u);
}

TEST(DownloadThreadsTest, JobsRunSideBySideAndFewThreadsWaitAfterwards) {
  DownloadThreads threads;
  constexpr int kJobs = 6;
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
  std::atomic<int> handedOver{0};
  for (int i = 0; i < kJobs; ++i) {
    threads.Run([&] {
      // Each job waits until all are running: none waits for another's end.
      std::unique_lock lock(mutex);
      ++running;
      changed.notify_all();
      changed.wait_for(lock, 10s, [&] { return running == kJobs; });
      return std::function<void()>([&] { ++handedOver; });
    });
  }
  ASSERT_TRUE(Reaches([&] { return handedOver == kJobs; }, 10s));
  EXPECT_EQ(running, kJobs);
  ASSERT_TRUE(Reaches([&] { return threads.Threads() <= DownloadThreads::kMaxIdle; }));
  EXPECT_EQ(threads.Waiting(), DownloadThreads::kMaxIdle);
  // The threads that left by themselves are joined by the next job's start.
  RunToTheEnd(threads);
  EXPECT_LE(threads.Threads(), DownloadThreads::kMaxIdle);
}

TEST(DownloadThreadsTest, AThreadLetGoHoldsBackNoOtherJob) {
  DownloadThreads threads;
  // Stalls as a hostile server would, more of them than ever wait.
  std::vector<Stall> stalls(DownloadThreads::kMaxIdle + 2);
  for (const Stall& stall : stalls) threads.LetGo(threads.Run(stall.Job()));
  EXPECT_EQ(threads.Threads(), 0u);
  const auto start = std::chrono::steady_clock::now();
  RunToTheEnd(threads);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(threads.Threads(), 1u);
  for (const Stall& stall : stalls) stall.Release();
  // A ticket whose job is done lets nothing go.
  const auto ticket = threads.Run([] { return std::function<void()>(); });
  ASSERT_TRUE(Reaches([&] { return threads.Waiting() == 1; }));
  threads.LetGo(ticket);
  EXPECT_EQ(threads.Threads(), 1u);
}

#ifndef _WIN32
// Marks, from its destructor, that its thread has ended.
struct EndOfThread {
  std::atomic<int>* ended = nullptr;
  ~EndOfThread() {
    if (ended != nullptr) ++*ended;
  }
};
thread_local EndOfThread t_endOfThread;

TEST(DownloadThreadsTest, ClosingJoinsTheThreadsThatAreDoneAndWaitsForNoStalledOne) {
  std::atomic<int> ended{0};
  Stall stall;
  DownloadThreads threads;
  threads.Run(stall.Job());
  threads.Run([&] {
    t_endOfThread.ended = &ended;
    return std::function<void()>();
  });
  ASSERT_TRUE(Reaches([&] { return threads.Waiting() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  threads.Close(true, DownloadThreads::kGrace);
  // The finished thread has ended all through; the stalled one had its grace.
  EXPECT_EQ(ended, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, DownloadThreads::kGrace + 2s);
  stall.Release();
}
#endif

// The handles of a download given up during a call: the gate's closer takes
// them, or the download keeps and closes them; none is left open.
TEST(DownloadGateTest, HandlesEndUpClosedWhenTheGateGivesUpDuringACall) {
  struct Case {
    const char* name;
    DownloadGate::StartThread start;
    bool taken;  // the closer takes the handles
  };
  const Case cases[] = {
      // Where closing reads out the body, nothing is taken.
      {"a closing thread", &DownloadGate::StartDetached, !CloseReadsOutTheBody()},
      {"no thread to be had", [](std::function<void()>) { throw std::runtime_error("no thread"); },
       false},
  };
  for (const Case& c : cases) {
    DownloadGate gate(c.start);
    InternetHandle root(InternetOpenA("gate test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    ASSERT_TRUE(root) << c.name;
    InternetHandle url;
    // The call opens a URL handle as the open returns after the download was
    // given up (on Windows, after its root was closed under it).
    const bool completed = GatedCall(&gate, root, url, [&] {
      gate.GiveUp();
      url.Reset(InternetOpenA("the open's handle", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    });
    EXPECT_TRUE(gate.GivenUp()) << c.name;
    EXPECT_EQ(completed, !c.taken) << c.name;
    if (!completed) {
      EXPECT_FALSE(root) << c.name;
      EXPECT_FALSE(url) << c.name;
    } else {
      // Still the download's: the next call is refused, and it closes them.
      EXPECT_FALSE(GatedCall(&gate, root, url, [] {})) << c.name;
      root.Reset();
      url.Reset();
    }
#ifndef _WIN32
    EXPECT_TRUE(Reaches([] { return platform::OpenInternetHandleCount() == 0; })) << c.name;
#endif
  }
}

}  // namespace
}  // namespace qel
