// The request job: accepts one URL at a time, downloads it after its caller
// has returned, and reports the outcome with DataCollected.
//
// The download runs on a worker thread; the job's own thread goes back to its
// message loop meanwhile, so the job answers at once whatever the server
// does. The outcome, or the end of the download's time, comes back to the
// job's thread, where the job ends its task and raises DataCollected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/events.h"
#include "retrieval/check_limits.h"
#include "retrieval/clsBusy.h"
#include "retrieval/download_worker.h"
#include "trigger/clsTrigger.h"

namespace qel {

class clsPrivateWeb : public std::enable_shared_from_this<clsPrivateWeb> {
 public:
  // GetURL's answer: accepted, or refused because a request is under way or
  // because the trigger did not arm.
  enum class Answer : int32_t { kAccepted = 0, kBusy = -1, kNotArmed = -2 };

  static std::shared_ptr<clsPrivateWeb> Create(CheckLimits limits = {});
  // A download still under way is given up; no event follows.
  ~clsPrivateWeb();

  bool IsActive();
  Answer GetURL(std::u16string strURL);
  // The running task's name; for diagnostics and tests.
  std::u16string TaskName();

  Event<int32_t, std::u16string> DataCollected;

 private:
  explicit clsPrivateWeb(CheckLimits limits) : m_limits(limits) {}
  void Class_Initialize();
  clsBusy& Busy();
  void m_cTrigger_Trigger();
  void m_cDownload_Done(DownloadWorker::Outcome outcome);
  // Ends the task and raises DataCollected; an error that escapes a handler
  // comes back as a second DataCollected.
  void Complete(int32_t result, std::u16string text, std::exception_ptr raised);

  const CheckLimits m_limits;
  std::u16string m_strURL;
  std::unique_ptr<clsBusy> m_cBusy;
  WithEvents<clsTrigger> m_cTrigger;
  // The download under way; while it is set, the trigger keeps its deadline.
  std::shared_ptr<DownloadWorker> m_cDownload;
  // Counts accepted requests, so that the error path can tell whether a
  // handler has started the next one.
  uint64_t m_lRequests = 0;
};

}  // namespace qel
