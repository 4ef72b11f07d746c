// A download run on one of the asking thread's download threads, so that the
// thread that asked for it goes back to its message loop and keeps answering
// its callers. The outcome comes back to that thread through its mailbox.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "retrieval/download_gate.h"
#include "retrieval/modInternetFunctions.h"

namespace qel {

class DownloadThreads;
class ThreadMailbox;

class DownloadWorker : public std::enable_shared_from_this<DownloadWorker> {
 public:
  struct Outcome {
    int32_t result = 0;
    std::u16string text;
    // The response's status, when asked for and the download succeeded.
    modInternetFunctions::ResponseStatus status;
    // What the download raised instead of a result; rethrown where the
    // outcome is handled.
    std::exception_ptr error;
  };
  using Done = std::function<void(Outcome)>;

  // Starts DownloadURL(url, flags) with WinINet's waits bounded by `wait`,
  // asking for the response's status `withStatus`. `done` runs later from
  // the calling thread's message dispatch, unless Abandon comes first.
  // Raises if no thread or mailbox can be had.
  static std::shared_ptr<DownloadWorker> Start(std::u16string url, int32_t flags,
                                               std::chrono::milliseconds wait, Done done,
                                               bool withStatus = false);

  // The starting thread only, and at once: `done` will not run. The WinINet
  // call under way is ended by closing its handles; nothing waits for the
  // worker, whose result goes nowhere, and its thread no longer counts among
  // the download threads.
  void Abandon() noexcept;

 private:
  DownloadWorker() = default;
  // The download; answers the hand-over of its outcome, if it has one.
  std::function<void()> Run() noexcept;
  void Deliver(Outcome outcome);

  std::u16string m_strURL;
  int32_t m_lFlags = 0;
  std::chrono::milliseconds m_wait{0};
  bool m_bWithStatus = false;
  std::shared_ptr<ThreadMailbox> m_cMailbox;
  Done m_done;  // touched on the starting thread only
  DownloadGate m_gate;
  std::weak_ptr<DownloadThreads> m_cThreads;
  uint64_t m_lTicket = 0;
};

}  // namespace qel
