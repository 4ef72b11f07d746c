#include "retrieval/download_threads.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace qel {

DownloadThreads::DownloadThreads() : m_state(std::make_shared<State>()) {}

DownloadThreads::~DownloadThreads() { Close(false); }

uint64_t DownloadThreads::Run(Job job) {
  std::list<std::shared_ptr<Thread>> ended;
  uint64_t ticket = 0;
  {
    const std::lock_guard lock(m_state->mutex);
    if (m_state->closed) throw std::logic_error("download threads closed");
    ended = TakeEnded(m_state->threads);
    ended.splice(ended.end(), TakeEnded(m_state->letGo));
    ticket = ++m_state->tickets;
    const auto waiting = std::find_if(m_state->threads.begin(), m_state->threads.end(),
                                      [](const auto& thread) { return thread->waiting; });
    if (waiting != m_state->threads.end()) {
      Thread& thread = **waiting;
      thread.job = std::move(job);
      thread.ticket = ticket;
      thread.busy = true;
      thread.waiting = false;
      thread.wake.notify_one();
    } else {
      auto thread = std::make_shared<Thread>();
      thread->job = std::move(job);
      thread->ticket = ticket;
      thread->busy = true;
      m_state->threads.push_back(thread);
      try {
        // It cannot look at its job before this lock is released.
        thread->thread = std::thread(&DownloadThreads::Loop, m_state, thread);
      } catch (...) {
        m_state->threads.pop_back();
        throw;
      }
    }
  }
  // Threads that left by themselves are at their very end.
  for (const auto& thread : ended) thread->thread.join();
  return ticket;
}

void DownloadThreads::LetGo(uint64_t ticket) noexcept {
  const std::lock_guard lock(m_state->mutex);
  auto& threads = m_state->threads;
  const auto found = std::find_if(threads.begin(), threads.end(), [&](const auto& thread) {
    return thread->ticket == ticket && thread->busy;
  });
  if (found == threads.end()) return;
  (*found)->letGo = true;
  m_state->letGo.splice(m_state->letGo.end(), threads, found);
}

void DownloadThreads::Close(bool join, std::chrono::milliseconds grace) noexcept {
  std::list<std::shared_ptr<Thread>> threads;  // to be joined
  std::list<std::shared_ptr<Thread>> letGo;
  {
    std::unique_lock lock(m_state->mutex);
    if (m_state->closed) return;
    m_state->closed = true;
    for (const auto& thread : m_state->threads) {
      if (join) {
        thread->stop = true;
        thread->wake.notify_one();
        if (thread->busy) thread->letGo = true;
      } else {
        // Not woken: a thread ending meanwhile must not meet the process's
        // own end, so each ends after its job or its idle life.
        thread->letGo = true;
      }
    }
    threads.swap(m_state->threads);
    for (auto it = threads.begin(); it != threads.end();) {
      const auto next = std::next(it);
      if ((*it)->letGo) m_state->letGo.splice(m_state->letGo.end(), threads, it);
      it = next;
    }
    if (join && grace.count() > 0) {
      m_state->ended.wait_for(lock, grace, [&] {
        return std::all_of(m_state->letGo.begin(), m_state->letGo.end(),
                           [](const auto& thread) { return thread->ended; });
      });
    }
    threads.splice(threads.end(), TakeEnded(m_state->letGo));
    letGo.swap(m_state->letGo);
  }
  for (const auto& thread : threads) {
    if (join) {
      thread->thread.join();
    } else {
      thread->thread.detach();
    }
  }
  for (const auto& thread : letGo) thread->thread.detach();
}

size_t DownloadThreads::Threads() const {
  const std::lock_guard lock(m_state->mutex);
  return static_cast<size_t>(std::count_if(m_state->threads.begin(), m_state->threads.end(),
                                           [](const auto& thread) { return !thread->ended; }));
}

size_t DownloadThreads::Waiting() const {
  const std::lock_guard lock(m_state->mutex);
  return static_cast<size_t>(std::count_if(m_state->threads.begin(), m_state->threads.end(),
                                           [](const auto& thread) { return thread->waiting; }));
}

void DownloadThreads::Loop(std::shared_ptr<State> state, std::shared_ptr<Thread> self) noexcept {
  std::unique_lock lock(state->mutex);
  for (;;) {
    if (!self->job) {
      self->waiting = true;
      self->wake.wait_for(lock, kIdleLife, [&] { return self->job || self->stop; });
      self->waiting = false;
    }
    if (!self->job || self->stop || self->letGo) break;
    Job job = std::exchange(self->job, nullptr);
    lock.unlock();
    std::function<void()> handOver;
    try {
      handOver = job();
    } catch (...) {
    }
    job = nullptr;
    lock.lock();
    self->busy = false;
    const auto waiting = std::count_if(state->threads.begin(), state->threads.end(),
                                       [](const auto& thread) { return thread->waiting; });
    // Ready for the next job before the hand-over, whose outcome may well
    // start it.
    const bool stays = !self->letGo && !self->stop && static_cast<size_t>(waiting) < kMaxIdle;
    self->waiting = stays;
    if (handOver) {
      lock.unlock();
      try {
        handOver();
      } catch (...) {
      }
      handOver = nullptr;
      lock.lock();
    }
    if (!stays) break;
  }
  self->waiting = false;
  self->ended = true;
  state->ended.notify_all();
}

std::list<std::shared_ptr<DownloadThreads::Thread>> DownloadThreads::TakeEnded(
    std::list<std::shared_ptr<Thread>>& threads) {
  std::list<std::shared_ptr<Thread>> ended;
  for (auto it = threads.begin(); it != threads.end();) {
    const auto next = std::next(it);
    if ((*it)->ended) ended.splice(ended.end(), threads, it);
    it = next;
  }
  return ended;
}

}  // namespace qel
