#include "retrieval/clsPrivateWeb.h"

#include <windows.h>
#include <wininet.h>

#include "common/error.h"
#include "retrieval/modInternetFunctions.h"

namespace qel {
namespace {

constexpr int32_t kTriggerDelayMs = 10;

}  // namespace

std::shared_ptr<clsPrivateWeb> clsPrivateWeb::Create(CheckLimits limits) {
  std::shared_ptr<clsPrivateWeb> job(new clsPrivateWeb(limits));
  job->Class_Initialize();
  return job;
}

clsPrivateWeb::~clsPrivateWeb() {
  if (m_cDownload) m_cDownload->Abandon();
}

void clsPrivateWeb::Class_Initialize() {
  auto trigger = clsTrigger::Create();
  std::vector<Connection> bindings;
  bindings.push_back(trigger->Trigger.Bind(weak_from_this(), &clsPrivateWeb::m_cTrigger_Trigger));
  m_cTrigger.Set(std::move(trigger), std::move(bindings));
}

clsBusy& clsPrivateWeb::Busy() {
  if (!m_cBusy) m_cBusy = std::make_unique<clsBusy>();
  return *m_cBusy;
}

bool clsPrivateWeb::IsActive() {
  const auto self = shared_from_this();
  return Busy().Busy();
}

std::u16string clsPrivateWeb::TaskName() {
  const auto self = shared_from_this();
  return Busy().TaskName();
}

clsPrivateWeb::Answer clsPrivateWeb::GetURL(std::u16string strURL) {
  const auto self = shared_from_this();
  if (IsActive()) return Answer::kBusy;
  // Armed first: it fires only once this call is back in the message loop, so
  // the handler always finds the URL stored and the job busy.
  if (!m_cTrigger->Start(kTriggerDelayMs)) return Answer::kNotArmed;
  m_strURL = std::move(strURL);
  ++m_lRequests;
  Busy().StartTask(u"Collecting " + m_strURL);
  return Answer::kAccepted;
}

void clsPrivateWeb::m_cTrigger_Trigger() {
  if (m_cDownload) {
    // The download's time is up: it is given up, and the check ends as a
    // download that timed out.
    std::exchange(m_cDownload, nullptr)->Abandon();
    Complete(ERROR_INTERNET_TIMEOUT, std::u16string(), nullptr);
    return;
  }
  try {
    // The deadline is armed first: a download that cannot be bounded does
    // not start.
    if (!m_cTrigger->Start(static_cast<int32_t>(m_limits.download.count()))) {
      Complete(ERROR_NO_SYSTEM_RESOURCES, std::u16string(), nullptr);
      return;
    }
    m_cDownload =
        DownloadWorker::Start(m_strURL, modInternetFunctions::kRequestFlags, m_limits.wait,
                              [weak = weak_from_this()](DownloadWorker::Outcome outcome) {
                                if (const auto job = weak.lock())
                                  job->m_cDownload_Done(std::move(outcome));
                              });
  } catch (...) {
    m_cTrigger->Start(0);
    Complete(0, std::u16string(), std::current_exception());
  }
}

void clsPrivateWeb::m_cDownload_Done(DownloadWorker::Outcome outcome) {
  const auto self = shared_from_this();
  m_cDownload.reset();
  // Stops the deadline.
  m_cTrigger->Start(0);
  Complete(outcome.result, std::move(outcome.text), outcome.error);
}

void clsPrivateWeb::Complete(int32_t result, std::u16string text, std::exception_ptr raised) {
  const uint64_t request = m_lRequests;
  int32_t number = 0;
  try {
    if (raised) std::rethrow_exception(raised);
    Busy().EndTask();
    DataCollected.Raise(result, std::move(text));
    return;
  } catch (...) {
    number = NumberOf(std::current_exception());
  }
  // An error in the download or in a handler of the first event: report it
  // as a second event. An error in this one goes back to the trigger. A
  // handler that started the next request before it failed has already
  // heard this one's outcome: the new request goes on untouched, and reports
  // for itself.
  if (request != m_lRequests) return;
  m_strURL.clear();
  Busy().EndTask();
  DataCollected.Raise(number, std::u16string());
}

}  // namespace qel
