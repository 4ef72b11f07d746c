#include "retrieval/download_worker.h"

#include <utility>

#include "common/error.h"
#include "retrieval/download_threads.h"
#include "retrieval/modInternetFunctions.h"
#include "retrieval/thread_downloads.h"
#include "trigger/modTimer.h"
#include "trigger/thread_mailbox.h"

namespace qel {

std::shared_ptr<DownloadWorker> DownloadWorker::Start(std::u16string url, int32_t flags,
                                                      std::chrono::milliseconds wait, Done done,
                                                      bool withStatus) {
  std::shared_ptr<DownloadWorker> worker(new DownloadWorker());
  worker->m_strURL = std::move(url);
  worker->m_lFlags = flags;
  worker->m_wait = wait;
  worker->m_bWithStatus = withStatus;
  worker->m_done = std::move(done);
  worker->m_cMailbox = modTimer::Mailbox();
  if (!worker->m_cMailbox) Raise(kErrOutOfMemory, kRuntimeSource, u"Out of memory");
  const auto threads = ThreadDownloads();
  worker->m_cThreads = threads;
  // The job keeps the worker alive until its download is over.
  worker->m_lTicket = threads->Run([worker] { return worker->Run(); });
  return worker;
}

void DownloadWorker::Abandon() noexcept {
  m_gate.GiveUp();
  m_done = nullptr;
  if (const auto threads = m_cThreads.lock()) threads->LetGo(m_lTicket);
}

std::function<void()> DownloadWorker::Run() noexcept {
  Outcome outcome;
  try {
    outcome.result = modInternetFunctions::DownloadURL(
        m_strURL, m_lFlags, outcome.text,
        {m_wait, &m_gate, m_bWithStatus ? &outcome.status : nullptr});
  } catch (...) {
    outcome.text.clear();
    outcome.error = std::current_exception();
  }
  if (m_gate.GivenUp()) return nullptr;
  try {
    return [self = shared_from_this(), outcome = std::move(outcome)] {
      try {
        self->m_cMailbox->Post([self, outcome]() mutable { self->Deliver(std::move(outcome)); });
      } catch (...) {
        // Out of memory for the hand-over: the starting thread's deadline
        // still ends the check.
      }
    };
  } catch (...) {
    return nullptr;
  }
}

void DownloadWorker::Deliver(Outcome outcome) {
  if (!m_done) return;
  const Done done = std::exchange(m_done, nullptr);
  done(std::move(outcome));
}

}  // namespace qel
