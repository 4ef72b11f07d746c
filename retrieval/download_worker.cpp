#include "retrieval/download_worker.h"

#include <thread>
#include <utility>

#include "common/error.h"
#include "retrieval/modInternetFunctions.h"
#include "trigger/modTimer.h"
#include "trigger/thread_mailbox.h"

namespace qel {

std::shared_ptr<DownloadWorker> DownloadWorker::Start(std::u16string url, int32_t flags,
                                                      std::chrono::milliseconds wait, Done done) {
  std::shared_ptr<DownloadWorker> worker(new DownloadWorker());
  worker->m_strURL = std::move(url);
  worker->m_lFlags = flags;
  worker->m_wait = wait;
  worker->m_done = std::move(done);
  worker->m_cMailbox = modTimer::Mailbox();
  if (!worker->m_cMailbox) Raise(kErrOutOfMemory, kRuntimeSource, u"Out of memory");
  // The thread keeps the worker alive; nobody joins it, so that giving a
  // download up never waits for it.
  std::thread([worker] { worker->Run(); }).detach();
  return worker;
}

void DownloadWorker::Abandon() noexcept {
  m_gate.GiveUp();
  m_done = nullptr;
}

void DownloadWorker::Run() noexcept {
  Outcome outcome;
  try {
    outcome.result =
        modInternetFunctions::DownloadURL(m_strURL, m_lFlags, outcome.text, {m_wait, &m_gate});
  } catch (...) {
    outcome.text.clear();
    outcome.error = std::current_exception();
  }
  if (m_gate.GivenUp()) return;
  try {
    m_cMailbox->Post([self = shared_from_this(), outcome = std::move(outcome)]() mutable {
      self->Deliver(std::move(outcome));
    });
  } catch (...) {
    // Out of memory for the hand-over: the starting thread's deadline still
    // ends the check.
  }
}

void DownloadWorker::Deliver(Outcome outcome) {
  if (!m_done) return;
  const Done done = std::exchange(m_done, nullptr);
  done(std::move(outcome));
}

}  // namespace qel
