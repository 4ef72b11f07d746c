#include "retrieval/clsPrivateWeb.h"

#include <new>

#include "common/error.h"
#include "retrieval/modInternetFunctions.h"

namespace qel {
namespace {

constexpr int32_t kTriggerDelayMs = 10;
// The Basic runtime's "Internal error", for a failure that carries no number.
constexpr int32_t kErrInternal = 51;

}  // namespace

std::shared_ptr<clsPrivateWeb> clsPrivateWeb::Create() {
  std::shared_ptr<clsPrivateWeb> job(new clsPrivateWeb());
  job->Class_Initialize();
  return job;
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

int32_t clsPrivateWeb::GetURL(std::u16string strURL) {
  const auto self = shared_from_this();
  if (IsActive()) return kBusy;
  // Armed first: it fires only once this call is back in the message loop, so
  // the handler always finds the URL stored and the job busy.
  if (!m_cTrigger->Start(kTriggerDelayMs)) return kNotArmed;
  m_strURL = std::move(strURL);
  Busy().StartTask(u"Collecting " + m_strURL);
  return kAccepted;
}

void clsPrivateWeb::m_cTrigger_Trigger() {
  int32_t number = 0;
  try {
    std::u16string text;
    const int32_t result =
        modInternetFunctions::DownloadURL(m_strURL, modInternetFunctions::kRequestFlags, text);
    Busy().EndTask();
    DataCollected.Raise(result, std::move(text));
    return;
  } catch (const Error& error) {
    number = error.Number();
  } catch (const std::bad_alloc&) {
    number = kErrOutOfMemory;
  } catch (...) {
    number = kErrInternal;
  }
  // An error in the download or in a handler of the first event: report it
  // as a second event. An error in this one goes back to the trigger.
  m_strURL.clear();
  Busy().EndTask();
  DataCollected.Raise(number, std::u16string());
}

}  // namespace qel
