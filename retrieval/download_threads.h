// The threads that run one thread's downloads. A thread whose download is
// done waits for the next one, so that a check does not pay for starting a
// thread; a few wait at most, and none for long. A thread whose download is
// given up while it runs is let go: the set forgets it and starts another for
// the next download, so a server that stalls holds only its own downloads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace qel {

class DownloadThreads {
 public:
  // Runs on a download thread and answers the hand-over, which runs on the
  // same thread once it counts as free again (so that whoever the hand-over
  // wakes finds no download of the set under way).
  using Job = std::function<std::function<void()>()>;

  // At most this many threads wait for work; each for at most kIdleLife.
  static constexpr size_t kMaxIdle = 2;
  static constexpr std::chrono::seconds kIdleLife{2};

  DownloadThreads();
  ~DownloadThreads();
  DownloadThreads(const DownloadThreads&) = delete;
  DownloadThreads& operator=(const DownloadThreads&) = delete;

  // The owning thread only, as are the members below. Runs the job on a
  // waiting thread or a new one and answers the job's ticket; raises if no
  // thread can be started.
  uint64_t Run(Job job);
  // The ticket's job, if it is still running, is no longer the set's: its
  // thread ends when the job does, and nobody waits for it.
  void LetGo(uint64_t ticket) noexcept;
  // Ends the set. With `join`, threads whose job is done end and are joined
  // before this returns, and threads let go get `grace` to end and be joined
  // too (their handles were closed under them, which ends their call where
  // the platform allows); the rest are left to end by themselves. Without
  // it, every thread is left to end by itself, after its job or its idle
  // life.
  void Close(bool join, std::chrono::milliseconds grace = std::chrono::milliseconds(0)) noexcept;
  // The grace natively at a thread's end, where a download given up ends at once.
  static constexpr std::chrono::milliseconds kGrace{1000};

  // The set's threads, and those of them waiting for work; for tests.
  size_t Threads() const;
  size_t Waiting() const;

 private:
  struct Thread {
    std::thread thread;
    std::condition_variable wake;
    Job job;
    uint64_t ticket = 0;
    bool busy = false;     // running its job (the hand-over not counted)
    bool waiting = false;  // ready for a job
    bool letGo = false;
    bool stop = false;
    bool ended = false;  // out of its loop: to be joined
  };
  struct State {
    mutable std::mutex mutex;
    std::condition_variable ended;               // a thread has left its loop
    std::list<std::shared_ptr<Thread>> threads;  // the set's: none let go
    std::list<std::shared_ptr<Thread>> letGo;    // not yet joined
    uint64_t tickets = 0;
    bool closed = false;
  };

  static void Loop(std::shared_ptr<State> state, std::shared_ptr<Thread> self) noexcept;
  // Takes the threads that have ended out of `threads`, to be joined.
  static std::list<std::shared_ptr<Thread>> TakeEnded(std::list<std::shared_ptr<Thread>>& threads);

  const std::shared_ptr<State> m_state;
};

}  // namespace qel
